# Stand-in for the radio's wireless driver: preloaded under the real
# libshared.so, it plays a scripted driver and logs every private request.
add_library(wl_driver_stub SHARED ${CMAKE_CURRENT_LIST_DIR}/wl_driver_stub.c)
target_compile_options(wl_driver_stub PRIVATE -Wall -Wextra $<$<BOOL:${WERROR}>:-Werror>)
target_link_libraries(wl_driver_stub PRIVATE ${CMAKE_DL_LIBS})
set_target_properties(wl_driver_stub PROPERTIES
    PREFIX "" OUTPUT_NAME wl_driver_stub
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/stubs)
