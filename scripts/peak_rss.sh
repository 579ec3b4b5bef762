#!/bin/sh
# Peak resident memory of the program on X11 with the classic SDL 1.2 runtime:
#   scripts/peak_rss.sh [BUILD_DIR]      (default build-bench)
# Starts a private Xvfb, runs BUILD_DIR/vesk under /usr/bin/time -v for
# RUN_SECONDS, closes its window as a window manager would (wm_close from
# BUILD_DIR/tests/e2e) and prints the maximum resident set size.
set -eu
build="${1:-build-bench}"
# Seconds the program runs its frame loop before the window is closed.
RUN_SECONDS=3
# Seconds to wait for the window to appear.
WINDOW_WAIT_SECONDS=20

for tool in Xvfb xdotool /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "peak_rss.sh: $tool is missing (make bench installs it)" >&2; exit 1; }
done
[ -x "$build/vesk" ] && [ -x "$build/tests/e2e/wm_close" ] ||
    { echo "peak_rss.sh: build $build first (vesk and tests/e2e/wm_close)" >&2; exit 1; }

work="$(mktemp -d)"
xvfb=""
vesk=""
cleanup() {
    [ -n "$vesk" ] && kill "$vesk" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
i=0
while [ ! -s "$work/display" ]; do
    i=$((i + 1))
    [ "$i" -le 100 ] || { echo "peak_rss.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
DISPLAY=":$(cat "$work/display")"
export DISPLAY

# The classic runtime: the system's libSDL-1.2.so.0, not sdl12-compat's.
env -u LD_LIBRARY_PATH /usr/bin/time -v -o "$work/time" "$build/vesk" 2>"$work/vesk.log" &
vesk=$!
window=$(timeout "$WINDOW_WAIT_SECONDS" xdotool search --sync --name '^Vesk$' | head -n 1)
[ -n "$window" ] || { echo "peak_rss.sh: the window did not appear" >&2; exit 1; }
runtime=$(grep -o '[^ ]*libSDL-1\.2[^ ]*' "/proc/$(pgrep -P "$vesk" vesk | head -n 1)/maps" | sort -u | head -n 1)
sleep "$RUN_SECONDS"
"$build/tests/e2e/wm_close" "$window"
wait "$vesk"
vesk=""
kib=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time")
echo "Peak resident memory of vesk on X11 ($runtime): $kib KiB ($(awk "BEGIN { printf \"%.1f\", $kib / 1024 }") MiB)"
