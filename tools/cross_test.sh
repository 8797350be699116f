#!/bin/sh
# Builds everything for the router's CPU (32-bit MIPS, little-endian) and
# tests it there as closely as this machine allows: under qemu-mipsel, with
# the mipsel GStreamer, GLib and C library of a Debian sysroot.
#
#   tools/cross_test.sh              (as root on Debian 12, like tools/test.sh)
#
# Runs every unit test, the checks that nothing shipped needs libstdc++ or
# carries the exception runtime, and every end-to-end group (the WPS client
# over the cross-built driver stand-in, the platform library and its tool,
# the player on local files, HTTP streams, playlists, MMS, its signals and
# its watchdogs, which matter most on a CPU slower than the host's), then
# prints the size report and checks what a firmware build installs
# (tools/install_check.sh). Only the few cases that load our library into the
# host's python through ctypes cannot run, and skip themselves.
set -eu
cd "$(dirname "$0")/.."

build=${CROSS_BUILD_DIR:-build-mipsel}
jobs=$(nproc)

sh tools/deps.sh
sh tools/cross_deps.sh
sh tools/make_sysroot.sh

# MinSizeRel: the sizes reported are those of what would go into the flash.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DWERROR=ON
cmake --build "$build" -j"$jobs"

# Every stage runs even when an earlier one failed, so that one failure
# does not hide the others or the size report; the exit status tells.
failed=""
echo "== unit tests under qemu-mipsel"
ctest --test-dir "$build" -LE e2e --output-on-failure -j"$jobs" || failed="$failed unit"

echo "== end-to-end tests under qemu-mipsel"
ctest --test-dir "$build" -L e2e --output-on-failure -j"$jobs" || failed="$failed e2e"

sh tools/size_report.sh "$build" || failed="$failed size-report"

# What a firmware build installs, in a build tree of its own, and the
# floating-point check of what a CPU without an FPU runs.
sh tools/install_check.sh "$build-install" mipsel || failed="$failed install"

if [ -n "$failed" ]; then
    echo "cross_test: failed:$failed" >&2
    exit 1
fi
echo "cross_test: all passed"
