#!/bin/sh
# Prepares or tears down the Wine prefix that the tests run in.
#   wine-prefix.sh start PREFIX   fresh prefix, persistent wineserver, system
#                                  processes started detached from our pipes
#   wine-prefix.sh stop PREFIX    orderly wineserver shutdown
# Wine's system processes inherit the descriptors of whoever starts them first;
# starting them here with everything redirected keeps CTest's pipes free.
set -eu
action=$1
prefix=$2
WINEPREFIX=$prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES

case "$action" in
start)
    if [ -d "$prefix" ]; then
        timeout 30 wineserver -k >/dev/null 2>&1 || true
        timeout 30 wineserver -w >/dev/null 2>&1 || true
        rm -rf "$prefix"
    fi
    mkdir -p "$(dirname "$prefix")"
    timeout 180 wineboot -i </dev/null >/dev/null 2>&1
    # Let wineboot's own server and its system processes end first, or they
    # live on beside the persistent server (two service managers, say).
    timeout 60 wineserver -w >/dev/null 2>&1 || true
    setsid wineserver -p </dev/null >/dev/null 2>&1 &
    timeout 60 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    echo "wine prefix ready: $prefix"
    ;;
stop)
    timeout 60 wineserver -k >/dev/null 2>&1 || true
    timeout 60 wineserver -w >/dev/null 2>&1 || true
    echo "wine server stopped: $prefix"
    ;;
*)
    echo "usage: $0 start|stop PREFIX" >&2
    exit 2
    ;;
esac
