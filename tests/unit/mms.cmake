# The MMS source: failure messages (pure), the interruptible socket layer
# under libmms, and the element itself in real pipelines on loopback.
add_unit_test(mms_failure_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mms/mms_failure_test.cpp ${PROJECT_SOURCE_DIR}/player/mms/mms_failure.cpp)
target_include_directories(mms_failure_test PRIVATE ${PROJECT_SOURCE_DIR}/player)

add_unit_test(mms_io_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mms/mms_io_test.cpp
    LIBS sorvel_mms)

add_unit_test(mms_src_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mms/mms_src_test.cpp
    LIBS sorvel_mms)
set_tests_properties(mms_io_test mms_src_test PROPERTIES TIMEOUT 60)
