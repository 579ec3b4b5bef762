#!/bin/sh
# Peak resident memory of the program on X11 with the system's SDL 1.2 runtime:
#   scripts/peak_rss.sh [BUILD_DIR]      (default the bench preset's tree)
# The tests' X harness starts a private Xvfb, runs BUILD_DIR/vesk for a few
# seconds, closes its window as a window manager would (wm_close from
# BUILD_DIR/tests/e2e) and prints the program's maximum resident set size.
set -eu
build="${1:-$("$(dirname "$0")/tree.sh" bench)}"
[ -x "$build/vesk" ] && [ -x "$build/tests/e2e/wm_close" ] ||
    { echo "peak_rss.sh: build $build first (vesk and tests/e2e/wm_close)" >&2; exit 1; }
exec python3 "$(dirname "$0")/../tests/xharness.py" peak-rss --vesk "$build/vesk" \
    --wm-close "$build/tests/e2e/wm_close"
