#!/bin/sh
# Installs what the mipsel cross build and its qemu test stage need on top of
# tools/deps.sh: the cross compiler, qemu-user and the sysroot maker.
# Runs apt only when something is missing, so repeated runs are quick.
set -eu

PACKAGES="g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user mmdebstrap"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    # shellcheck disable=SC2086
    apt-get install -y --no-install-recommends $missing
fi
