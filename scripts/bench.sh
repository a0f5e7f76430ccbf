#!/usr/bin/env bash
# Builds the benchmarks with optimisation and runs each; every one prints
# ratios against a baseline it measures in the same run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLNET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
for bench in "$build"/bin/qn_bench_*; do
  echo "=== $(basename "$bench") ==="
  "$bench"
done
