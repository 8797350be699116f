#!/bin/sh
# Builds the mipsel sysroot the cross build compiles against and qemu-mipsel
# runs from: Debian's own mipsel packages, unpacked (not installed) into a
# folder. The host's dpkg cannot take them (multi-arch versions never match
# because the security archive carries no mipsel), so they live apart.
#
#   tools/make_sysroot.sh [DIR]      default DIR: <repo>/sysroot-mipsel
#
# The package archive is whatever this machine's apt is configured to use;
# set SYSROOT_APT_SOURCES to a sources file to use another one instead.
# Quick when DIR already holds a sysroot made from the same package list.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$repo/sysroot-mipsel}
arch=mipsel

# What the build links against, what the unit tests link against, and the
# GStreamer plug-ins the programs play through under qemu: souphttpsrc and
# wavparse are in -good (which pulls libsoup in for the HTTP source), the
# ASF demuxer of MMS streams in -ugly, their WMA decoder in -libav, and
# alsasink (played into ALSA's null device) in -alsa.
packages="
libc6-dev libstdc++-12-dev libgcc-12-dev
libglib2.0-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
gstreamer1.0-libav gstreamer1.0-alsa
libmms-dev libgtest-dev
"

# Bump when what the script leaves in the sysroot changes.
recipe=2
stamp_text=$(printf "%s\n" "arch=$arch" "recipe=$recipe" $packages)
if [ -f "$dir/.sysroot-stamp" ] && [ "$(cat "$dir/.sysroot-stamp")" = "$stamp_text" ]; then
    echo "sysroot up to date: $dir"
    exit 0
fi

for tool in mmdebstrap apt-config; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "make_sysroot: $tool is missing (tools/cross_deps.sh installs it)" >&2
        exit 1
    }
done

# The machine's own apt sources, as apt itself finds them.
sources=""
if [ -n "${SYSROOT_APT_SOURCES:-}" ]; then
    sources=$SYSROOT_APT_SOURCES
else
    eval "$(apt-config shell LIST Dir::Etc::sourcelist/f PARTS Dir::Etc::sourceparts/d)"
    [ -s "$LIST" ] && sources=$LIST
    PARTS=${PARTS%/}
    for f in "$PARTS"/*.list "$PARTS"/*.sources; do
        [ -s "$f" ] && sources="$sources $f"
    done
fi
if [ -z "$sources" ]; then
    echo "make_sysroot: no apt sources configured on this machine" >&2
    exit 1
fi
# A proxy this machine's apt goes through applies to the sysroot's too.
HTTP_PROXY_OPT="" HTTPS_PROXY_OPT=""
eval "$(apt-config shell HTTP_PROXY_OPT Acquire::http::Proxy HTTPS_PROXY_OPT Acquire::https::Proxy)"
set --
[ -n "$HTTP_PROXY_OPT" ] && set -- "$@" "--aptopt=Acquire::http::Proxy \"$HTTP_PROXY_OPT\""
[ -n "$HTTPS_PROXY_OPT" ] && set -- "$@" "--aptopt=Acquire::https::Proxy \"$HTTPS_PROXY_OPT\""

# shellcheck disable=SC1091
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ -z "$suite" ]; then
    echo "make_sysroot: cannot tell the Debian release from /etc/os-release" >&2
    exit 1
fi

# Unpack into a fresh folder beside the target and move it in place only when
# complete, so an interrupted run never leaves a sysroot that looks finished.
work="$dir.partial"
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
include=$(echo $packages | tr ' ' ',')
echo "making mipsel sysroot in $dir from:$sources"
# shellcheck disable=SC2086
mmdebstrap --quiet --skip=check/signed-by --variant=extract --arch="$arch" --include="$include" \
    "$@" "$suite" "$work" $sources

# Development links such as libm.so -> /lib/mipsel-linux-gnu/libm.so.6 point
# at the host's root; make them relative so they resolve inside the sysroot.
find "$work" -type l -lname '/*' | while read -r link; do
    target=$(readlink "$link")
    rel=$(realpath -m --relative-to="$(dirname "$link")" "$work$target")
    ln -sfn "$rel" "$link"
done

# qemu-mipsel -L sends every absolute path a program opens into the sysroot
# when the file exists there. Keep only what the compiler and the dynamic
# loader need, so a program under test meets the same /tmp, /var/run, /etc and
# /mnt as on the host and never a mipsel tool from the sysroot's bin folders.
# Documentation and translations go too: a third of the size, read by nobody.
rm -rf "$work/bin" "$work/sbin" "$work/dev" "$work/etc" "$work/tmp" "$work/var" \
    "$work/run" "$work/mnt" "$work/usr/bin" "$work/usr/sbin" \
    "$work/usr/share/doc" "$work/usr/share/locale" "$work/usr/share/man" \
    "$work/usr/share/info"

printf '%s\n' "$stamp_text" >"$work/.sysroot-stamp"
rm -rf "$dir"
mv "$work" "$dir"
echo "sysroot ready: $dir ($(du -sh "$dir" | cut -f1))"
