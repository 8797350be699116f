#!/bin/sh
# Installs what is missing, builds, and plays a sample through the player.
set -eu
cd "$(dirname "$0")/.."
sh tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
BUILD_DIR="$PWD/build" /usr/bin/python3 tools/demo.py
