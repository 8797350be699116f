#!/bin/sh
# Size report of the files we ship, as they would go into the router's flash:
# stripped size against its goal, the shared libraries each needs (NEEDED),
# and the C library functions they import, marking those uClibc-ng lacks.
#
#   tools/size_report.sh [BUILD_DIR]      default: <repo>/build-mipsel
#
# Works on any build; the goals are for the mipsel build made with
# -DCMAKE_BUILD_TYPE=MinSizeRel (tools/cross_test.sh). Exits non-zero only
# when a shipped file is missing or needs libstdc++ at run time; a file over
# its size goal is reported, not failed.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build-mipsel}

# file (relative to the build) and its goal in bytes (stripped)
shipped="
wps_client/ostrel 16384
platform/libshared.so 32768
player/sorvel 98304
platform/nvram -
"

first=$(echo $shipped | cut -d' ' -f1)
if [ ! -f "$build/$first" ]; then
    echo "size_report: no $build/$first (build first)" >&2
    exit 1
fi
# Binutils for the files' own machine: the cross ones for a mipsel build.
prefix=""
if readelf -h "$build/$first" | grep -q "Machine:.*MIPS"; then
    prefix=mipsel-linux-gnu-
fi
strip=${prefix}strip
readelf=${prefix}readelf
nm=${prefix}nm

# Imports that glibc's headers create and that a build against uClibc-ng's
# headers does not ask for (it has its own names for them, or none):
# fortified *_chk variants, the C99 scanf aliases, glibc's assert hook, the
# 64-bit time and stat aliases of 32-bit glibc, and glibc's start-up entry
# (uClibc-ng's crt1 calls its own).
glibc_only='^(__[a-z0-9_]+_chk|__isoc99_[a-z]+|__isoc23_[a-z]+|__assert_fail|__libc_start_main|__[a-z_]+_time64|__[a-z]*stat64_time64|__libc_single_threaded|gnu_get_libc_version|__xpg_basename|__xpg_strerror_r)$'
# Functions of glibc that uClibc-ng does not have at all.
missing_in_uclibc='^(qsort_r|getentropy|getrandom|memfd_create|reallocarray|explicit_bzero|strfromd|strfromf|copy_file_range|pidfd_open|close_range|statx)$'

# Present in uClibc-ng only when it is configured with the named option.
needs_option() {
    case "$1" in
    posix_spawn*) echo UCLIBC_HAS_ADVANCED_REALTIME ;;
    eventfd | pipe2 | flock | mkostemp*) echo UCLIBC_LINUX_SPECIFIC ;;
    *64) echo UCLIBC_HAS_LFS ;;
    getaddrinfo | freeaddrinfo | gai_strerror) echo UCLIBC_HAS_IPV4 ;;
    pthread_*) echo UCLIBC_HAS_THREADS ;;
    esac
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
imports="$tmp/imports"
: >"$imports"

echo "== size report: $build"
printf '%-24s %9s %9s  %s\n' FILE STRIPPED GOAL NEEDED
echo "$shipped" | while read -r rel goal; do
    [ -n "$rel" ] || continue
    f=$build/$rel
    if [ ! -f "$f" ]; then
        printf '%-24s %9s\n' "$(basename "$rel")" missing
        echo fail >>"$tmp/failed"
        continue
    fi
    "$strip" --strip-all -o "$tmp/stripped" "$f"
    size=$(stat -c %s "$tmp/stripped")
    needed=$("$readelf" -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
    mark=""
    if [ "$goal" != "-" ]; then
        if [ "$size" -le "$goal" ]; then mark="ok"; else mark="OVER"; fi
        goal_text="$((goal / 1024)) KB"
    else
        goal_text="-"
    fi
    printf '%-24s %9s %9s  %s%s\n' "$(basename "$rel")" "$size" "$goal_text" "$needed" \
        "${mark:+ [$mark]}"
    case "$needed" in
    *libstdc++*)
        echo "  $rel needs libstdc++ at run time"
        echo fail >>"$tmp/failed"
        ;;
    esac
    # glibc's own functions carry a GLIBC_ version tag; GLib's and
    # GStreamer's imports carry none and are left out.
    "$nm" -D --undefined-only "$f" | sed -n 's/^ *[Uw] \([^@]*\)@GLIBC_.*/\1/p' >>"$imports"
done

echo
echo "== C library functions imported (nm -D --undefined-only, all shipped files)"
sort -u "$imports" | while read -r sym; do
    if echo "$sym" | grep -Eq "$glibc_only"; then
        echo "  $sym   [glibc header artefact: not asked for when built against uClibc-ng]"
    elif echo "$sym" | grep -Eq "$missing_in_uclibc"; then
        echo "  $sym   [NOT IN uClibc-ng]"
    else
        option=$(needs_option "$sym")
        echo "  $sym${option:+   [uClibc-ng with $option]}"
    fi
done

[ -f "$tmp/failed" ] && status=1
exit $status
