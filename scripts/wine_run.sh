#!/bin/sh
# wine_run.sh PROGRAM.exe [ARGS...]: runs a Windows program under Wine in a
# private Xvfb (display picked with -displayfd, -noreset), and exits with
# the program's status. The Windows build's tests run through it
# (CMAKE_CROSSCOMPILING_EMULATOR).
#
# WINEPREFIX must name the prefix to use (made on first use, about 10 s);
# Wine's debug output is off unless WINEDEBUG says otherwise. Ends the
# prefix's Wine processes and the Xvfb when the program ends.
set -eu
: "${WINEPREFIX:?wine_run.sh: set WINEPREFIX to a private prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
# Seconds to wait for Xvfb to name its display.
XVFB_WAIT_S=10

work=$(mktemp -d)
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 640x480x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
tries=$((XVFB_WAIT_S * 10))
while [ ! -s "$work/display" ] && [ "$tries" -gt 0 ]; do
    sleep 0.1
    tries=$((tries - 1))
done
if [ ! -s "$work/display" ]; then
    echo "wine_run.sh: Xvfb named no display:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY
status=0
wine "$@" || status=$?
exit "$status"
