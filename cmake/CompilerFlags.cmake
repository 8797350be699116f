# The router is a 32-bit system: without 64-bit file offsets stat() fails on
# files over 2 GB (music on a share) and readdir() fails on file systems that
# hand out 64-bit directory cookies. No effect on 64-bit hosts.
add_compile_definitions(_FILE_OFFSET_BITS=64)

# Flags for everything we ship. A router has a few MB of flash and no
# libstdc++ to spare: no exceptions, no RTTI, and libstdc++/libgcc folded in
# statically so nothing we install needs libstdc++.so at run time.
set(SHIP_COMPILE_OPTIONS
    -Wall -Wextra -Wshadow -Wformat=2 -Wno-missing-field-initializers
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    -ffunction-sections -fdata-sections)
if(WERROR)
    list(APPEND SHIP_COMPILE_OPTIONS -Werror)
endif()
set(SHIP_LINK_OPTIONS -static-libstdc++ -static-libgcc -Wl,--gc-sections -Wl,--as-needed)

set(SHIP_SUPPORT_DIR ${CMAKE_CURRENT_LIST_DIR})

# ship_target(<target>): apply the flags above to a shipped binary or library
# (and to the static cores they are made of).
function(ship_target target)
    target_compile_options(${target} PRIVATE ${SHIP_COMPILE_OPTIONS})
    get_target_property(kind ${target} TYPE)
    if(NOT kind STREQUAL "STATIC_LIBRARY" AND NOT kind STREQUAL "OBJECT_LIBRARY")
        target_link_options(${target} PRIVATE ${SHIP_LINK_OPTIONS})
        # libstdc++'s throwing helpers would bring the exception runtime in.
        target_sources(${target} PRIVATE ${SHIP_SUPPORT_DIR}/abort_on_throw.cpp)
        # Collected for the test that proves no shipped file needs libstdc++.
        set_property(GLOBAL APPEND PROPERTY SHIPPED_TARGETS ${target})
    endif()
endfunction()
