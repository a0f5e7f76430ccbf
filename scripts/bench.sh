#!/usr/bin/env bash
# Builds the benchmarks with optimisation and runs each; every one prints
# ratios against a baseline it measures in the same run.
#   scripts/bench.sh            every benchmark
#   scripts/bench.sh log cache  only qn_bench_log and qn_bench_cache
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
# The download benchmark fetches from a real web server on 127.0.0.1; it is
# needed here only, not by the tests.
if ! dpkg-query -W -f='${Status}' nginx-light 2>/dev/null | grep -q "install ok installed"; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends nginx-light
fi
build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLNET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
benches=()
for name in "$@"; do
  [ -x "$build/bin/qn_bench_$name" ] || { echo "no benchmark qn_bench_$name" >&2; exit 2; }
  benches+=("$build/bin/qn_bench_$name")
done
[ ${#benches[@]} -gt 0 ] || benches=("$build"/bin/qn_bench_*)
for bench in "${benches[@]}"; do
  echo "=== $(basename "$bench") ==="
  "$bench"
done
