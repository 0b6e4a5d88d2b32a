#!/usr/bin/env bash
# Builds the console in Release into ../build-bench and runs the full benchmark, which
# ends with one table of figures beside their goals, then plvctl's own table. Extra
# arguments go to bench_plv (--quick for a short run, --soak for the one-hour memory
# drift); --quick shortens plvctl's too.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BENCH_BUILD_DIR:-$here/build-bench}"
generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/Makefile" ]; then
  generator=(-G Ninja)
fi
cmake -S "$here" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_plv bench_unit bench_startup bench_exit plv_NXPUSB bench_plvctl plvctl -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
"$build/bench/bench_plv" "$@"
quick=()
for a in "$@"; do [ "$a" = "--quick" ] && quick=(--quick); done
"$build/bench/bench_plvctl" "${quick[@]}"
