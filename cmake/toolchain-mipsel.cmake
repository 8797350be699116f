# Cross build for the router's CPU: 32-bit MIPS, little-endian.
#
#   tools/make_sysroot.sh
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake
#
# The sysroot (Debian's mipsel packages, unpacked by tools/make_sysroot.sh)
# defaults to <repo>/sysroot-mipsel; pass -DMIPSEL_SYSROOT=<dir> for another.
# Tests run under qemu-mipsel, so plain `ctest` works in the cross build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(MIPSEL_TRIPLE mipsel-linux-gnu)
if(NOT MIPSEL_SYSROOT)
    get_filename_component(MIPSEL_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../sysroot-mipsel" ABSOLUTE)
endif()
# try_compile projects re-read this file in a scratch tree; hand them the
# same sysroot (and whether tests are built) rather than letting them guess
# again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MIPSEL_SYSROOT BUILD_TESTING)
if(NOT EXISTS "${MIPSEL_SYSROOT}/usr/include/stdio.h")
    message(FATAL_ERROR "no mipsel sysroot at ${MIPSEL_SYSROOT}: run tools/make_sysroot.sh")
endif()

set(CMAKE_SYSROOT "${MIPSEL_SYSROOT}")
set(CMAKE_C_COMPILER ${MIPSEL_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MIPSEL_TRIPLE}-g++)

# Headers, libraries and CMake packages only from the sysroot; programs (the
# host's pkg-config, python3 for the end-to-end tests) only from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see only the sysroot's .pc files and prefix what they say
# with the sysroot, or the host's GStreamer would leak into the link.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${MIPSEL_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${MIPSEL_SYSROOT}/usr/lib/${MIPSEL_TRIPLE}/pkgconfig:${MIPSEL_SYSROOT}/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

# Every test program starts through qemu-mipsel. GStreamer needs three things
# there: the sysroot's plug-ins by their host path, no forked plug-in scanner
# (a mipsel helper binary that cannot be executed directly here), and a
# registry cache of its own so the host's x86 one is never read or clobbered.
# A build without the tests (-DBUILD_TESTING=OFF) runs nothing and needs no qemu.
if(DEFINED BUILD_TESTING AND NOT BUILD_TESTING)
    return()
endif()
find_program(QEMU_MIPSEL qemu-mipsel REQUIRED)
set(MIPSEL_GST_PLUGINS "${MIPSEL_SYSROOT}/usr/lib/${MIPSEL_TRIPLE}/gstreamer-1.0")
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${QEMU_MIPSEL}" -L "${MIPSEL_SYSROOT}"
    -E "GST_PLUGIN_SYSTEM_PATH=${MIPSEL_GST_PLUGINS}"
    -E "GST_REGISTRY_FORK=no"
    -E "GST_REGISTRY=${CMAKE_BINARY_DIR}/gst-registry-mipsel.bin")
