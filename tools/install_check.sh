#!/bin/sh
# Builds and installs the project as a firmware build would, and checks what
# lands in the image: the staged file list, the pkg-config file, the ELF
# dynamic sections, an .ipk made from the stage by the OpenWrt package's own
# file split, and (mipsel) that nothing but the player carries floating-point
# instructions, which a router CPU without an FPU would have to trap and
# emulate in the kernel.
#
#   tools/install_check.sh BUILD_DIR [host|mipsel]        default: host
#
# Configures BUILD_DIR with -DCMAKE_INSTALL_PREFIX=/usr
# -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_TESTING=OFF (mipsel: the toolchain file
# and MinSizeRel), builds, installs with DESTDIR=BUILD_DIR/stage and leaves
# the .ipk files in BUILD_DIR/ipk. Exits non-zero on the first failed check.
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [host|mipsel]" >&2; exit 2; }
build=$1
target=${2:-host}

fail() {
    echo "install_check: FAILED: $*" >&2
    exit 1
}

case $target in
host)
    configure="-DCMAKE_BUILD_TYPE=${INSTALL_CHECK_BUILD_TYPE:-RelWithDebInfo}"
    tools=""
    cc=${CC:-cc}
    sysroot=""
    machine="Advanced Micro Devices X86-64"
    ipk_arch=x86_64
    ;;
mipsel)
    configure="-DCMAKE_BUILD_TYPE=${INSTALL_CHECK_BUILD_TYPE:-MinSizeRel} -DCMAKE_TOOLCHAIN_FILE=$repo/cmake/toolchain-mipsel.cmake"
    tools=mipsel-linux-gnu-
    cc=${tools}gcc
    sysroot=${MIPSEL_SYSROOT:-$repo/sysroot-mipsel}
    configure="$configure -DMIPSEL_SYSROOT=$sysroot"
    machine="MIPS R3000"
    # OpenWrt's name for the 32-bit little-endian MIPS routers' packages.
    ipk_arch=mipsel_24kc
    ;;
*) fail "unknown target $target (host or mipsel)" ;;
esac

echo "== install check ($target): configure and build in $build"
# shellcheck disable=SC2086 # $configure is a list of arguments
cmake -S "$repo" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_TESTING=OFF -DWERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON $configure >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

# The build type alone decides optimisation, and nothing strips: every
# compile has the one -O of the build type, no link strips.
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
case $build_type in
Release) want_o=-O3 ;;
RelWithDebInfo) want_o=-O2 ;;
MinSizeRel) want_o=-Os ;;
*) want_o="" ;;
esac
levels=$(grep -o '"command": "[^"]*' "$build/compile_commands.json" | grep -o ' -O[0-9a-z]*' | sort -u | tr -d ' ' | tr '\n' ' ')
[ "$levels" = "${want_o:+$want_o }" ] || fail "optimisation flags [$levels] in a $build_type build"
stripping=$(grep -Elr --include=link.txt -- '(^| )(-s|-Wl,-s|-Wl,--strip-[a-z]+)( |$)' "$build" || true)
[ -z "$stripping" ] || fail "links that strip their output: $stripping"

# Nothing of the tests: not configured, nothing built, nothing fetched.
[ ! -e "$build/tests" ] || fail "BUILD_TESTING=OFF still configured tests/"
[ ! -e "$build/_deps" ] || fail "BUILD_TESTING=OFF fetched dependencies into _deps/"
if grep -Eq '^(GTest|GTEST)' "$build/CMakeCache.txt"; then
    fail "BUILD_TESTING=OFF still looked for GoogleTest"
fi

stage=$build/stage
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

echo "== staged tree"
# Type, path, and for a link its target: a moved, missing or extra file, a
# library installed as a copy instead of a link all show up here.
listing=$(cd "$stage" && find . -mindepth 1 -printf '%y %P %l\n' | sed 's/ *$//' | sort -k2)
expected=$(sort -k2 <<EOF
d usr
d usr/bin
f usr/bin/nvram
f usr/bin/ostrel
f usr/bin/sorvel
d usr/include
f usr/include/shared.h
d usr/lib
l usr/lib/libshared.so libshared.so.$version
f usr/lib/libshared.so.$version
d usr/lib/pkgconfig
f usr/lib/pkgconfig/libshared.pc
EOF
)
echo "$listing" | sed 's/^/  /'
[ "$listing" = "$expected" ] || {
    echo "expected:" >&2
    echo "$expected" | sed 's/^/  /' >&2
    fail "staged tree differs"
}

echo "== pkg-config against the stage"
export PKG_CONFIG_SYSROOT_DIR="$stage"
export PKG_CONFIG_LIBDIR="$stage/usr/lib/pkgconfig"
unset PKG_CONFIG_PATH
pkg-config --validate libshared || fail "libshared.pc does not validate"
flags=$(pkg-config --cflags --libs libshared)
flags=$(echo "$flags" | tr -s ' \n' '  ' | sed 's/ $//')
echo "  $flags"
[ "$flags" = "-I$stage/usr/include -L$stage/usr/lib -lshared" ] || fail "unexpected flags: $flags"
[ "$(pkg-config --modversion libshared)" = "$version" ] || fail "libshared.pc has another version"
# What a package linking the library does: include the header and link
# with those flags alone (the loader's name for it is the SONAME).
printf '#include <shared.h>\nint main(void) { char t[] = "x "; return trim_r(t)[1]; }\n' >"$build/uses_libshared.c"
# shellcheck disable=SC2086 # $flags is a list of arguments
"$cc" ${sysroot:+--sysroot="$sysroot"} -o "$build/uses_libshared" "$build/uses_libshared.c" $flags ||
    fail "a program cannot build against the staged header and .pc"
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR

echo "== ELF: machine, SONAME, NEEDED, no RPATH/RUNPATH"
readelf=${tools}readelf
sorted_needed() {
    "$readelf" -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' '
}
check_elf() { # file, expected NEEDED (sorted, space-separated)
    f=$stage/$1
    "$readelf" -h "$f" | grep -q "Machine: *$machine" || fail "$1 is not for $machine"
    if "$readelf" -d "$f" | grep -Eq '\((RPATH|RUNPATH)\)'; then
        fail "$1 carries an RPATH/RUNPATH"
    fi
    "$readelf" -S "$f" | grep -q '\.symtab' || fail "$1 was stripped on install"
    needed=$(sorted_needed "$f")
    printf '  %-28s %s\n' "$1" "$needed"
    [ "$needed" = "$2" ] || fail "$1 needs [$needed], expected [$2]"
}
check_elf usr/bin/nvram "libc.so.6 "
check_elf usr/bin/ostrel "libc.so.6 libshared.so "
check_elf "usr/lib/libshared.so.$version" "libc.so.6 "
check_elf usr/bin/sorvel "libc.so.6 libgio-2.0.so.0 libglib-2.0.so.0 libgobject-2.0.so.0 libgstapp-1.0.so.0 libgstbase-1.0.so.0 libgstreamer-1.0.so.0 libmms.so.0 libshared.so "
# The vendor's libshared.so (no version in its name) must satisfy what the
# programs record, so the SONAME carries no version.
soname=$("$readelf" -d "$stage/usr/lib/libshared.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libshared.so ] || fail "SONAME is [$soname], expected [libshared.so]"

echo "== .ipk packages made from the stage"
# Which files go into which package, and what each depends on, come from the
# OpenWrt Makefile itself: its install sections and its unconditional
# DEPENDS. A file the Makefile names that is not staged fails here.
makefile=$repo/packaging/openwrt/router-daemons/Makefile
ipkdir=$build/ipk
rm -rf "$ipkdir"
mkdir -p "$ipkdir"
# shellcheck disable=SC2016 # $( ) here is Make's, not the shell's
packages=$(sed -n 's/^\$(eval \$(call BuildPackage,\(.*\)))$/\1/p' "$makefile")
for pkg in $packages; do
    work=$ipkdir/$pkg
    mkdir -p "$work/data" "$work/control"
    # shellcheck disable=SC2016
    files=$(sed -n "/^define Package\/$pkg\/install/,/^endef/p" "$makefile" |
        sed -n 's/.*\$(PKG_INSTALL_DIR)\/\([^ ]*\) .*/\1/p')
    [ -n "$files" ] || fail "no install section for $pkg in $makefile"
    for pattern in $files; do
        found=""
        for f in "$stage"/$pattern; do
            [ -e "$f" ] || [ -L "$f" ] || continue
            rel=${f#"$stage"/}
            mkdir -p "$work/data/$(dirname "$rel")"
            cp -a "$f" "$work/data/$rel"
            found=1
        done
        [ -n "$found" ] || fail "$pkg installs $pattern, which is not staged"
    done
    # shellcheck disable=SC1003 # a backslash in tr's set, not an escape
    depends=$(sed -n "/^define Package\/$pkg\$/,/^endef/p" "$makefile" |
        sed -n '/DEPENDS:=/,/[^\\]$/p' | tr -s ' \t\\' '\n' | sed 's/^DEPENDS:=//' |
        sed -n 's/^+\([a-z0-9][^:]*\)$/\1/p' | paste -sd, - | sed 's/,/, /g')
    {
        echo "Package: $pkg"
        echo "Version: $version-1"
        echo "Architecture: $ipk_arch"
        [ -z "$depends" ] || echo "Depends: $depends"
        echo "Installed-Size: $(du -sk "$work/data" | cut -f1)"
        echo "Description: $pkg of router-daemons"
    } >"$work/control/control"
    echo "2.0" >"$work/debian-binary"
    owner="--owner=0 --group=0 --numeric-owner --sort=name"
    # shellcheck disable=SC2086 # $owner is a list of arguments
    {
        tar -C "$work/data" $owner -czf "$work/data.tar.gz" .
        tar -C "$work/control" $owner -czf "$work/control.tar.gz" .
        tar -C "$work" $owner -czf "$ipkdir/${pkg}_${version}-1_$ipk_arch.ipk" \
            ./debian-binary ./data.tar.gz ./control.tar.gz
    }
done

for ipk in "$ipkdir"/*.ipk; do
    echo "  $(basename "$ipk"):"
    outer=$(tar -tvzf "$ipk")
    echo "$outer" | sed 's/^/    /'
    [ "$(tar -tzf "$ipk" | tr '\n' ' ')" = "./debian-binary ./data.tar.gz ./control.tar.gz " ] ||
        fail "$ipk does not hold debian-binary, data.tar.gz, control.tar.gz"
    [ "$(tar -xOzf "$ipk" ./debian-binary)" = "2.0" ] || fail "$ipk: debian-binary is not 2.0"
    for member in data.tar.gz control.tar.gz; do
        inner=$(tar -xOzf "$ipk" "./$member" | tar -tvz)
        echo "$inner" | sed "s|^|    $member: |"
        printf '%s\n%s\n' "$outer" "$inner" | awk '$2 != "0/0" { bad = 1 } END { exit bad }' ||
            fail "$ipk: a member of $member is not owned by 0/0"
    done
    tar -xOzf "$ipk" ./control.tar.gz | tar -xOz ./control | sed 's/^/    control: /'
done
# Every runtime file is in exactly one package; the header and .pc are for
# InstallDev only.
shipped=$(cd "$ipkdir" && for p in */data; do (cd "$p" && find . ! -type d); done | sed 's|^\./||' | sort)
runtime=$(cd "$stage" && find . ! -type d ! -path './usr/include/*' ! -name '*.pc' | sed 's|^\./||' | sort)
[ "$shipped" = "$runtime" ] || fail "packages hold [$shipped], the stage has [$runtime]"

echo "== shell scripts the packages carry"
scripts=$(find "$repo/packaging" -type f \( -name '*.sh' -o -name '*.init' -o -name 'postinst*' -o -name 'prerm*' \))
if [ -n "$scripts" ]; then
    for s in $scripts; do sh -n "$s" || fail "$s: sh -n"; done
    # shellcheck disable=SC2086
    shellcheck $scripts || fail "shellcheck"
    echo "$scripts" | sed 's/^/  checked: /'
else
    echo "  none (no init script: see packaging/README.md)"
fi

if [ "$target" = mipsel ]; then
    echo "== floating-point instructions (objdump -d)"
    objdump=${tools}objdump
    # Coprocessor 1 is the FPU: its loads, stores, moves and branches
    # (lwc1, sdc1, mtc1, bc1t, ...), arithmetic on a format (add.s, mul.d,
    # cvt.s.w, ...), compares (c.lt.d) and moves on its condition (movf).
    fp_lines() {
        "$objdump" -d --no-show-raw-insn "$1" |
            awk -F'\t' 'NF >= 2 { split($2, w, " "); m = w[1]
                if (m ~ /c1/ || m ~ /\.(s|d|ps|w|l)$/ || m ~ /^c\./ || m ~ /^mov[ft]$/) print }'
    }
    fp_count() {
        fp_lines "$1" | wc -l
    }
    # The count must see floating point where there is some, or a zero
    # below would prove nothing.
    printf 'double scale(double a, int b) { return a * b; }\n' >"$build/fp_probe.c"
    "$cc" ${sysroot:+--sysroot="$sysroot"} -O2 -c -o "$build/fp_probe.o" "$build/fp_probe.c"
    probe=$(fp_count "$build/fp_probe.o")
    [ "$probe" -gt 0 ] || fail "the count finds no floating point in a double multiply"
    printf '  %-28s %s\n' "(probe: a double multiply)" "$probe"
    for f in usr/bin/ostrel usr/bin/nvram usr/lib/libshared.so.$version; do
        n=$(fp_count "$stage/$f")
        printf '  %-28s %s\n' "$f" "$n"
        [ "$n" -eq 0 ] || {
            fp_lines "$stage/$f" | head -20 >&2
            fail "$f has floating-point instructions"
        }
    done
    # The player's own count is a figure, not a limit: its decoders and
    # converters live in GStreamer's libraries and plug-ins.
    printf '  %-28s %s   (figure only)\n' usr/bin/sorvel "$(fp_count "$stage/usr/bin/sorvel")"
fi

echo "install_check: $target passed"
