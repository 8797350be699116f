# Shipped files stay free of the C++ exception runtime: libstdc++'s throwing
# helpers are replaced by ones that abort (cmake/abort_on_throw.cpp).
add_unit_test(abort_on_throw_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/abort_on_throw_test.cpp
            ${CMAKE_SOURCE_DIR}/cmake/abort_on_throw.cpp)

get_property(shipped_for_runtime_check GLOBAL PROPERTY SHIPPED_TARGETS)
if(shipped_for_runtime_check)
    set(files "")
    foreach(t ${shipped_for_runtime_check})
        list(APPEND files "$<TARGET_FILE:${t}>")
    endforeach()
    add_test(NAME shipped_without_exception_runtime
             COMMAND ${CMAKE_COMMAND} "-DFILES=${files}" "-DNM=${CMAKE_NM}"
                     -P ${CMAKE_SOURCE_DIR}/tests/check_no_exception_runtime.cmake)
endif()
