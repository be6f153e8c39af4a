#!/bin/bash
# Builds and runs every test: the Windows build and its installer package, the
# tests under Wine, then the portable core natively under AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of each fuzzer. Exits non-zero
# on the first failure.
#   OSM_BUILD_DIR   where the builds go (default: ./build)
#   OSM_FUZZ_SECONDS  seconds per fuzzer (default 20; 0 skips fuzzing)
set -eu
# pipefail keeps a failing ctest visible through tee.
set -o pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSM_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

echo "== Windows build (mingw-w64), tests under Wine"
cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" -j "$jobs"
echo "== Windows Installer package"
OSM_BUILD_DIR="$build" bash "$root/tools/package.sh"
(cd "$build/win" && ctest --output-on-failure -j "$jobs") | tee "$build/win-ctest.log"

echo "== Portable core, native, with sanitizers"
CC=clang CXX=clang++ cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug \
      -DOSM_SANITIZE=ON -DOSM_FUZZ=ON >/dev/null
cmake --build "$build/native" -j "$jobs"
(cd "$build/native" && ctest --output-on-failure -j "$jobs") | tee "$build/native-ctest.log"

seconds=${OSM_FUZZ_SECONDS:-20}
if [ "$seconds" -gt 0 ]; then
  for fuzzer in "$build"/native/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    echo "== fuzzing $name for ${seconds}s"
    corpus="$build/native/fuzz/corpus_$name"
    mkdir -p "$corpus"
    seeds="$root/fuzz/seeds/${name#fuzz_}"
    if [ -d "$seeds" ]; then
      "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "$seeds" 2>"$build/native/fuzz/$name.log" ||
        { tail -50 "$build/native/fuzz/$name.log"; exit 1; }
    else
      "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2>"$build/native/fuzz/$name.log" ||
        { tail -50 "$build/native/fuzz/$name.log"; exit 1; }
    fi
  done
fi
total=0
for log in "$build/win-ctest.log" "$build/native-ctest.log"; do
  n=$(sed -n 's/.*tests failed out of \([0-9][0-9]*\).*/\1/p' "$log" | tail -1)
  total=$((total + ${n:-0}))
done
echo "tests: $total passed, 0 failed"
