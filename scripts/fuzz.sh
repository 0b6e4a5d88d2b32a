#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan, the whole tree instrumented) and runs
# each one from a scratch copy of its checked-in corpus, so new inputs never land in the
# source tree. Prints executions, time and findings per target; non-zero exit on a finding.
#   scripts/fuzz.sh [RUNS [BUILD_DIR]]      RUNS defaults to 1000000, BUILD_DIR to build-fuzz
set -euo pipefail
PLV_ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-1000000}
BUILD=${2:-$PLV_ROOT/build-fuzz}
TARGETS=(decode framing serialframer entries hid_descriptor tessel_report)

source "$PLV_ROOT/scripts/deps.sh"
plv_install_deps

t0=$(date +%s)
cmake -S "$PLV_ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLV_FUZZ=ON \
      -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$BUILD" --target fuzzers -j"$(nproc)"
echo "build: $(( $(date +%s) - t0 )) s"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/plv-fuzz.XXXXXX")
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

summary=()
failed=0
for t in "${TARGETS[@]}"; do
    work=$scratch/$t
    mkdir -p "$work/corpus" "$work/findings"
    cp "$PLV_ROOT/fuzz/corpus/$t"/* "$work/corpus/"
    seeds=$(ls "$work/corpus" | wc -l)
    start=$(date +%s.%N)
    set +e
    "$BUILD/fuzz/fuzz_$t" -runs="$RUNS" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/findings/" "$work/corpus" >"$work/log" 2>&1
    rc=$?
    set -e
    secs=$(echo "$(date +%s.%N) - $start" | bc)
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
    execs=${execs:-0}
    found=$(find "$work/findings" -type f | wc -l)
    grown=$(ls "$work/corpus" | wc -l)
    line=$(printf '%-16s execs %9s  time %7.1f s  (%6.0f/s)  corpus %3d -> %4d  findings %d  exit %d' \
        "$t" "$execs" "$secs" "$(echo "$execs / $secs" | bc -l)" "$seeds" "$grown" "$found" "$rc")
    echo "$line"
    summary+=("$line")
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
        failed=1
        grep -E "ERROR|property failed|runtime error|SUMMARY" "$work/log" | head -5 | sed 's/^/    /'
        find "$work/findings" -type f | sed 's/^/    finding: /'
    fi
done

echo
echo "== fuzz summary ($RUNS runs per target; logs and findings in $scratch)"
printf '%s\n' "${summary[@]}"
exit "$failed"
