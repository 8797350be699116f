# In a cross build the kavido stand-in must run on the host, not under qemu:
# the programs under test notify it with the host's killall, which finds
# processes by name, and an emulated process is named after qemu. Built with
# the host's compiler; the harness is pointed at it through E2E_KAVIDO.
if(CMAKE_CROSSCOMPILING)
    find_program(HOST_CC NAMES cc gcc REQUIRED)
    set(host_kavido ${CMAKE_BINARY_DIR}/tests/stubs/host/kavido)
    add_custom_command(
        OUTPUT ${host_kavido}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tests/stubs/host
        COMMAND ${HOST_CC} -O2 -Wall -Wextra -o ${host_kavido} ${CMAKE_CURRENT_LIST_DIR}/kavido_stub.c
        DEPENDS ${CMAKE_CURRENT_LIST_DIR}/kavido_stub.c
        COMMENT "Building the host kavido stand-in")
    add_custom_target(kavido_host_stub ALL DEPENDS ${host_kavido})
endif()
