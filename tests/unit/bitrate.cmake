# Station bitrate recording: line and entry rewriting, and the file and
# settings-store work driven against a scratch directory.
add_unit_test(station_list_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/unit/bitrate/station_list_test.cpp
            ${CMAKE_SOURCE_DIR}/player/bitrate/station_list.cpp
    LIBS)
target_include_directories(station_list_test PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/player)

# The settings store is the test's own recorder, so the platform library is
# not linked here.
add_unit_test(iradio_update_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/unit/bitrate/iradio_update_test.cpp
            ${CMAKE_SOURCE_DIR}/player/bitrate/iradio_update.cpp
            ${CMAKE_SOURCE_DIR}/player/bitrate/station_list.cpp
            ${CMAKE_SOURCE_DIR}/player/regular_file.cpp
    LIBS)
target_include_directories(iradio_update_test PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/player
                                                   ${CMAKE_SOURCE_DIR}/platform)
