# Pure parts of the player core: command line, source choice, SMB locations,
# the mount table, the now-playing title and the PLAYING report's arithmetic
# and formatting.
foreach(path command_line source_selection smb/smb_location smb/mount_table report/now_playing_title)
    get_filename_component(name ${path} NAME)
    add_unit_test(${name}_test
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/${path}_test.cpp ${CMAKE_SOURCE_DIR}/player/${path}.cpp
        LIBS)
    target_include_directories(${name}_test PRIVATE ${CMAKE_SOURCE_DIR}/player)
endforeach()
pkg_check_modules(GLIB_FOR_TESTS REQUIRED IMPORTED_TARGET glib-2.0)
target_link_libraries(command_line_test PRIVATE PkgConfig::GLIB_FOR_TESTS)

# These need the player's GStreamer glue around them.
add_unit_test(playing_report_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/report/playing_report_test.cpp LIBS sorvel_core)
add_unit_test(termination_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/control/termination_test.cpp LIBS sorvel_core)
# The HTTP source's reads against a real server on 127.0.0.1.
add_unit_test(http_block_size_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_block_size_test.cpp LIBS sorvel_core)
# The words for a refused certificate.
add_unit_test(certificate_refusal_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tls/certificate_refusal_test.cpp
            ${CMAKE_SOURCE_DIR}/player/tls/certificate_refusal.cpp)
target_include_directories(certificate_refusal_test PRIVATE ${CMAKE_SOURCE_DIR}/player)
