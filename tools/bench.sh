#!/bin/bash
# Builds the Windows binaries and runs every benchmark under Wine, then the
# portable benchmarks natively (release build, no sanitizers).
#   OSM_BUILD_DIR  where the builds go (default: ./build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSM_BUILD_DIR:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" -j "$jobs"
export OSM_WINEPREFIX="$build/win/wineprefix"
"$root/tools/wine-prefix.sh" start "$OSM_WINEPREFIX" >/dev/null
trap '"$root/tools/wine-prefix.sh" stop "$OSM_WINEPREFIX" >/dev/null' EXIT
for exe in $(find "$build/win/bench" -name 'bench_*.exe' | sort); do
  echo "== $(basename "$exe") (Windows build, Wine)"
  "$root/tools/wine-run.sh" "$exe"
done

CC=clang CXX=clang++ cmake -S "$root" -B "$build/bench-native" -DCMAKE_BUILD_TYPE=Release \
      -DOSM_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build/bench-native" -j "$jobs"
for exe in $(find "$build/bench-native/bench" -type f -perm -u+x -name 'bench_*' | sort); do
  echo "== $(basename "$exe") (native)"
  "$exe"
done
