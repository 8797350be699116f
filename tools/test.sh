#!/bin/sh
# Installs what is missing, builds with warnings as errors and runs every test;
# runs the whole host suite again built with AddressSanitizer and
# UndefinedBehaviorSanitizer (tools/sanitize_test.sh) and every fuzz target
# for FUZZ_SECONDS each (tools/fuzz.sh); then builds for the router's CPU and
# runs the tests under qemu-mipsel (tools/cross_test.sh). SKIP_CROSS=1,
# SKIP_SANITIZE=1 and SKIP_FUZZ=1 leave a stage out.
set -eu
cd "$(dirname "$0")/.."
sh tools/deps.sh
stage() {
    echo "== $1: $(date -u +%H:%M:%S)"
}
stage host
cmake -S . -B build -DWERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
# The end-to-end groups mostly wait on real-time playback: twice as many
# side by side as there are processors keeps the machine busy.
ctest --test-dir build --output-on-failure -j"$(($(nproc) * 2))"
if [ "${SKIP_SANITIZE:-0}" != 1 ]; then
    stage sanitizers
    sh tools/sanitize_test.sh
fi
if [ "${SKIP_FUZZ:-0}" != 1 ]; then
    stage fuzz
    sh tools/fuzz.sh "${FUZZ_SECONDS:-5}"
fi
if [ "${SKIP_CROSS:-0}" != 1 ]; then
    stage cross
    sh tools/cross_test.sh
fi
stage done
