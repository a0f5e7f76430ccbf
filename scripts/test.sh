#!/usr/bin/env bash
# Builds and runs every test: the plain build, the whole suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, and the fuzz targets briefly when clang is available;
# then the Windows build under Wine. Between them the binary interface of the
# plain build is compared with abi/, and at the end every bundle is made
# into dist/ from these builds and checked (scripts/package.sh).
# QUILLNET_WERROR=ON in the environment (as CI sets it) makes warnings errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
jobs=$(nproc)

run_suite() {  # name, cmake options...
  local name=$1; shift
  local build="$root/build/$name"
  echo "=== $name ==="
  cmake -S "$root" -B "$build" -DQUILLNET_WERROR="${QUILLNET_WERROR:-OFF}" "$@" >/dev/null
  cmake --build "$build" -j"$jobs"
  (cd "$build" && ctest --output-on-failure -j"$jobs")
}

run_suite default -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "=== binary interface ==="
"$root/scripts/abi-check.sh" "$root/build/default"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite asan -DCMAKE_BUILD_TYPE=Debug -DQUILLNET_SANITIZE=address,undefined -DQUILLNET_BUILD_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_suite tsan -DCMAKE_BUILD_TYPE=Debug -DQUILLNET_SANITIZE=thread -DQUILLNET_THREADED_TESTS_ONLY=ON
fuzz_probe=$(mktemp -d)
if command -v clang++ >/dev/null 2>&1 &&
   echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
     clang++ -fsanitize=fuzzer -x c++ - -o "$fuzz_probe/probe" >/dev/null 2>&1; then
  CC=clang CXX=clang++ run_suite fuzz -DCMAKE_BUILD_TYPE=Debug -DQUILLNET_BUILD_FUZZ=ON \
    -DQUILLNET_FUZZ_ONLY=ON -DQUILLNET_BUILD_BENCH=OFF
else
  echo "=== fuzz: skipped, clang with libFuzzer not available ==="
fi
rm -rf "$fuzz_probe"
"$root/scripts/test-windows.sh"  # the Windows build, under Wine
"$root/scripts/package.sh"       # the bundles, each unpacked and run
