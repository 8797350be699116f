#!/bin/sh
# tools/fuzz.sh SECONDS [TARGET...]
# Builds every libFuzzer target (tests/fuzz) with clang and runs each (or
# the ones named) for SECONDS, starting from its seed corpus. Exits non-zero
# when any target finds a crash, a sanitizer report, a failed property, a
# leak or a time-out; the input is kept under $FUZZ_OUT/findings/.
# Builds in $FUZZ_BUILD_DIR (default build-fuzz); new corpus inputs go to
# $FUZZ_OUT (default build-fuzz/out), never into the repository's seeds.
set -eu
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: $0 SECONDS [TARGET...]" >&2; exit 2; }
seconds=$1
shift

build=${FUZZ_BUILD_DIR:-build-fuzz}
out=${FUZZ_OUT:-$build/out}
cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)
# Warnings are the ordinary build's business; this tree is for finding faults.
cmake -S . -B "$build" -DFUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzzers

targets="$*"
[ -n "$targets" ] || targets=$(cd tests/fuzz/corpus && ls)

# Inputs as large as the program takes in one go: the playlist text and the
# survey buffer are bigger than libFuzzer's default.
max_len() {
    case $1 in
    playlist) echo 70000 ;;
    survey_reply) echo 8300 ;;
    *) echo 4096 ;;
    esac
}

failed=""
mkdir -p "$out/findings"
for t in $targets; do
    mkdir -p "$out/corpus/$t"
    echo "== $t: $seconds s"
    # Every report ends the run (halt_on_error), leaks included.
    if ! ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/tests/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len="$(max_len "$t")" -print_final_stats=1 \
        -artifact_prefix="$out/findings/$t-" "$out/corpus/$t" "tests/fuzz/corpus/$t" \
        >"$out/$t.log" 2>&1; then
        tail -n 40 "$out/$t.log"
        failed="$failed $t"
    fi
    grep -E "^#[0-9]+.*DONE|stat::number_of_executed_units|cov:" "$out/$t.log" | tail -n 2
done
if [ -n "$failed" ]; then
    echo "fuzz: findings in:$failed (inputs in $out/findings)" >&2
    exit 1
fi
echo "fuzz: no findings in $seconds s per target"
