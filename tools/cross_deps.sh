#!/bin/sh
# Installs what the mipsel cross build and its qemu test stage need on top of
# tools/deps.sh: the cross compiler, qemu-user and the sysroot maker.
set -eu
exec sh "$(dirname "$0")/deps.sh" g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user mmdebstrap
