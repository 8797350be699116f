#!/bin/sh
# Installs what is missing, builds with warnings as errors and runs every test.
set -eu
cd "$(dirname "$0")/.."
sh tools/deps.sh
cmake -S . -B build -DWERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
