#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test there, leak checking on. Prints the time of each phase.
#   scripts/sanitize.sh [BUILD_DIR]      BUILD_DIR defaults to build-asan
set -euo pipefail
PLV_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$PLV_ROOT/build-asan}

source "$PLV_ROOT/scripts/deps.sh"
plv_install_deps

t0=$(date +%s)
cmake -S "$PLV_ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLV_SANITIZE=ON >/dev/null
t1=$(date +%s)
cmake --build "$BUILD" -j"$(nproc)"
t2=$(date +%s)

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
set +e
(cd "$BUILD" && ctest --output-on-failure -j"$(nproc)")
rc=$?
set -e
t3=$(date +%s)
echo "sanitizer run: configure $((t1 - t0)) s, build $((t2 - t1)) s, tests $((t3 - t2)) s, total $((t3 - t0)) s; ctest exit $rc"
exit "$rc"
