# Pure parts of the player's signal and timer handling.
add_unit_test(seek_text_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/control/seek_text_test.cpp ${CMAKE_SOURCE_DIR}/player/control/seek_text.cpp
    LIBS)
target_include_directories(seek_text_test PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/player)

add_unit_test(stall_watchdog_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/control/stall_watchdog_test.cpp
            ${CMAKE_SOURCE_DIR}/player/control/stall_watchdog.cpp
    LIBS)
target_include_directories(stall_watchdog_test PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/player)
