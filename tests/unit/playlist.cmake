# Playlists: the parser over raw text, the decision that an error means "this
# is a playlist", and the sink that collects the text (through a real
# GStreamer pipeline).
add_unit_test(playlist_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/unit/playlist/playlist_test.cpp
            ${PROJECT_SOURCE_DIR}/player/playlist/playlist.cpp)
target_include_directories(playlist_test PRIVATE ${PROJECT_SOURCE_DIR}/player)

add_unit_test(playlist_detection_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/unit/playlist/playlist_detection_test.cpp
    LIBS sorvel_core)

add_unit_test(playlist_sink_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/unit/playlist/playlist_sink_test.cpp
    LIBS sorvel_core)
