#!/bin/sh
# Installs what the build, the tests and the agent need on a Debian machine.
set -eu
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
need=""
# prometheus (with promtool) and curl check the metrics endpoint end to end;
# wixl and msitools build and read the installer package.
for p in cmake make clang libclang-rt-14-dev googletest mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 \
         prometheus curl wixl msitools; do
  dpkg -s "$p" >/dev/null 2>&1 || need="$need $p"
done
if [ -n "$need" ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends $need
fi
