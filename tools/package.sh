#!/bin/bash
# Builds the Windows Installer package osm-<version>-x64.msi from packaging/osm.wxs
# with wixl (msitools), after building osmagent.exe and osmperf.dll.
#   OSM_BUILD_DIR        where the builds go (default: ./build); the package too
#   OSM_PACKAGE_DIR      where the package goes instead
#   OSM_PACKAGE_VERSION  product version instead of the agent's own (N.N.N)
#   OSM_AGENT_EXE, OSM_PERF_DLL  package these binaries instead of building them
# Prints the path of the package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSM_BUILD_DIR:-$root/build}
out=${OSM_PACKAGE_DIR:-$build}
jobs=$(nproc 2>/dev/null || echo 2)

# The agent's version lives in its string table, where the banner shows it.
version=${OSM_PACKAGE_VERSION:-$(sed -n 's/^ *IDS_BANNER_VERSION, *"\([^"]*\)".*/\1/p' "$root/resources/osmagent.rc")}
if ! [[ $version =~ ^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,5}$ ]]; then
  echo "package.sh: '$version' is not a product version (N.N.N)" >&2
  exit 1
fi

agent=${OSM_AGENT_EXE:-}
perf=${OSM_PERF_DLL:-}
if [ -z "$agent" ] || [ -z "$perf" ]; then
  cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/win" -j "$jobs" --target osmagent osmperf >&2
  agent=$build/win/host/osmagent.exe
  perf=$build/win/perfsvc/osmperf.dll
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
msi=$out/osm-$version-x64.msi
# wixl takes the files by relative name: gather them in one folder.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$agent" "$stage/osmagent.exe"
cp "$perf" "$stage/osmperf.dll"
cp "$root/README.md" "$root/packaging/osm_requests.txt" "$stage/"
tmp=$stage/osm.msi
(cd "$stage" && wixl -a x64 -o osm.msi -D Version="$version" "$root/packaging/osm.wxs") >&2

# What wixl cannot write: the start of the service only when START_SERVICE is 1,
# and a requests file that is never overwritten (64-bit 256 + never-overwrite 128).
q() { msibuild "$tmp" -q "$1" >&2; }
q "UPDATE \`Component\` SET \`Condition\` = 'START_SERVICE=\"1\"' WHERE \`Component\` = 'AgentStart'"
q "UPDATE \`Component\` SET \`Attributes\` = 384 WHERE \`Component\` = 'Requests'"
components=$(msiinfo export "$tmp" Component)
if ! grep -q "^AgentStart	.*	START_SERVICE=\"1\"	" <<<"$components" ||
   ! grep -q "^Requests	.*	384	" <<<"$components"; then
  echo "package.sh: the component changes did not take" >&2
  exit 1
fi
mv "$tmp" "$msi"
echo "$msi"
