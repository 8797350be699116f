#!/bin/sh
# Installs what is missing, builds with warnings as errors and runs every test;
# then builds for the router's CPU and runs the tests under qemu-mipsel
# (tools/cross_test.sh; set SKIP_CROSS=1 to run the host stage alone).
set -eu
cd "$(dirname "$0")/.."
sh tools/deps.sh
cmake -S . -B build -DWERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
if [ "${SKIP_CROSS:-0}" != 1 ]; then
    sh tools/cross_test.sh
fi
