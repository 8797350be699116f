# Pure parts of bridging a live station's dropped connection.
foreach(name reconnect_budget live_answer)
    add_unit_test(${name}_test
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/reconnect/${name}_test.cpp
                ${CMAKE_SOURCE_DIR}/player/reconnect/${name}.cpp
        LIBS)
    target_include_directories(${name}_test PRIVATE ${CMAKE_SOURCE_DIR}/player)
endforeach()
