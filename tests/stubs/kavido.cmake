# Stand-in for the controlling media player, named like it so that the
# player's "killall -SIGUSR1 kavido" finds it inside the test sandbox.
add_executable(kavido_stub ${CMAKE_CURRENT_LIST_DIR}/kavido_stub.c)
set_target_properties(kavido_stub PROPERTIES OUTPUT_NAME kavido
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/stubs)
