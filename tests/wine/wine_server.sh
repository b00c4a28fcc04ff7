#!/usr/bin/env bash
# The Wine server of one test run: "start PREFIX" makes the prefix when it is
# missing and starts a persistent server for it, with every standard stream
# redirected, so that neither the server nor Wine's own helper processes
# inherit a test's pipes; "stop PREFIX" ends the server and every Wine
# process of the prefix.
set -euo pipefail
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
case "$action" in
  start)
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1 || true  # one may run already
    wine cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    ;;
esac
