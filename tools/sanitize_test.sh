#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# $SANITIZE_BUILD_DIR (default build-san) and runs the whole host test
# suite (unit and end to end, the real programs) with it. Any report ends
# the program that made it with a failure, so the test that ran it fails.
set -eu
cd "$(dirname "$0")/.."
build=${SANITIZE_BUILD_DIR:-build-san}
cmake -S . -B "$build" -DSANITIZE=ON -DWERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

# verify_asan_link_order: the WPS tests preload the driver stand-in ahead of
# the runtime. fast_unwind_on_malloc=0: GLib has no frame pointers, and a
# leak's stack must reach the code that made it.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:verify_asan_link_order=0:fast_unwind_on_malloc=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Instrumented programs start, and check for leaks at exit, several times
# slower: the end-to-end tests' limits on "at once" scale with this.
export E2E_TIME_SCALE=4
# The end-to-end groups mostly wait on real-time playback: twice as many
# side by side as there are processors keeps them busy.
ctest --test-dir "$build" --output-on-failure -j"${SANITIZE_JOBS:-$(($(nproc) * 2))}" "$@"
