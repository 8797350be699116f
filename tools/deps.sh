#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, or
# the packages named as arguments.
# Runs apt only when something is missing, so repeated runs are quick.
set -eu

PACKAGES="$*"
[ -n "$PACKAGES" ] || PACKAGES="
build-essential cmake pkg-config clang-format
googletest libgtest-dev
libglib2.0-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-alsa
gstreamer1.0-plugins-bad icecast2
libmms-dev
python3 python3-pytest python3-cryptography
glib-networking ca-certificates
psmisc procps util-linux binutils shellcheck
clang libclang-rt-14-dev
"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    # Tests start their own icecast2 on loopback; the package must not start
    # its system service (on every interface) while it installs.
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod 755 /usr/sbin/policy-rc.d
        trap 'rm -f /usr/sbin/policy-rc.d' EXIT
    fi
    apt-get update
    # shellcheck disable=SC2086
    apt-get install -y --no-install-recommends $missing
fi
