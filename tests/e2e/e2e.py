#!/usr/bin/env python3
# e2e.py: end-to-end tests of the real program, in a private Xvfb, driven
# with real X input and watched through screenshots (tests/xharness.py).
#
#   e2e.py window  --vesk PATH [--exe PATH] --wm-close PATH --runtime R --depth D
#   e2e.py no-display --vesk PATH --runtime R
#
# `window` runs the program on runtime R (system or private, the X harness's
# SDL 1.2 runtimes, or wine: vesk.exe) at screen depth D and checks, in order,
# stopping at the first failing one: the window, the runtime loaded, the
# settled pile (under Wine: the same picture as the Linux program's, pixel for
# pixel), the crosshair, keys, a crater, a drag, and the close request; at
# depths but FULL_DEPTH not the keys and the drag, which no depth touches. An
# SDL2-backed runtime refuses depth 8 (SDL2 has no renderer for it): there it
# expects one line "vesk: cannot open the 200x300 window: ..." and status 1.
# `no-display` expects one "vesk: " line and status 1 with no display at all.
# A Linux runtime that the harness does not test here is reported skipped.
# Failing screenshots are saved as PNGs in the artifacts folder.
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from xharness import (BLACK, DRAWN_COLUMNS, ERROR_PREFIX, GREEN, KEYS,  # noqa: E402
                      LINUX_RUNTIMES, PILE_REST, WINDOW_HEIGHT, WINDOW_WIDTH, WINDOWS_CLOSE_KEYS,
                      arguments, check, check_pile, close, count, cross_follows,
                      describe_cross, expect_alive, expect_failure, fail_with, find_window,
                      kill, loaded_runtime, pointer, report, run_case, runtime_or_skip, save_png,
                      screenshot, start, start_xvfb, stop, wait_settled, wait_shot, xdo)

# Depth at which every check runs; at the others, those in DEPTH_CHECKS only.
FULL_DEPTH = 24
DEPTH_CHECKS = ("window", "runtime", "pile", "crosshair", "crater", "close")
# Pauses and waits, in seconds.
HOLE_APPEAR_S = 1
KEYS_AFTER_S = 0.5
CRATER_HOLD_S = 0.5
AFTER_RELEASE_S = 0.3

# Pointer spots where the X is looked for.
CROSS_SPOTS = ((60, 100), (150, 220))

# The brush is 9 x 9 cells, drawn as about 8 x 8 px up to 2 px off the
# pointer (grid cells are a little smaller than pixels).
BRUSH_SIZE = 9
CRATER_SPOT = (WINDOW_WIDTH // 2, WINDOW_HEIGHT // 2)
HOLE_REACH = 2                 # px around the pointer that must be bare while held
BELOW_FROM = 8                 # px under the pointer from which the pile stays whole
# Grains a half-second hold takes: at least one brush-full; a brush many
# times too big would take thousands (about 700 are seen).
CRATER_LOSS_MIN = BRUSH_SIZE * BRUSH_SIZE
CRATER_LOSS_MAX = 5000
# Grains the pixel count may still drift by once erasing has stopped (two
# grid columns, and two grid rows, share a pixel).
RELEASE_DRIFT_MAX = 20
# Buttons: the crater is dug with the left one, the drag made with the right.
CRATER_BUTTON = 1
DRAG_BUTTON = 3

# The drag, with the button held: along DRAG_ROW in steps, out past the
# window's right edge (the brush stays at the edge and keeps erasing there),
# and back in along RETURN_ROW. At each checkpoint the ground under the brush
# must be bare: holes left behind rise (and drift right) within a few
# frames, so the path is watched where the brush is.
DRAG_ROW = 230
RETURN_ROW = 180
DRAG_FROM = 40
DRAG_TO = 160
DRAG_STEP = 5                  # px a step
OUTSIDE_X = WINDOW_WIDTH + 40  # where the pointer goes out
# While the pointer is out to the right the brush stands at the last columns it
# can clear: pixels 193 to 197 (198 shows grid column 200, never cleared).
EDGE_X = WINDOW_WIDTH - 4
EDGE_REACH = 1
DRAG_PATH = ([(x, DRAG_ROW) for x in range(DRAG_FROM, DRAG_TO + 1, DRAG_STEP)] +
             [(OUTSIDE_X, DRAG_ROW), (OUTSIDE_X, RETURN_ROW)] +
             [(x, RETURN_ROW) for x in range(DRAG_TO, DRAG_FROM - 1, -DRAG_STEP)])
# Pointer: (x, y, reach) of the ground that must be bare.
DRAG_CHECKPOINTS = {(60, DRAG_ROW): (60, DRAG_ROW, HOLE_REACH),
                    (100, DRAG_ROW): (100, DRAG_ROW, HOLE_REACH),
                    (140, DRAG_ROW): (140, DRAG_ROW, HOLE_REACH),
                    (OUTSIDE_X, DRAG_ROW): (EDGE_X, DRAG_ROW, EDGE_REACH),
                    (100, RETURN_ROW): (100, RETURN_ROW, HOLE_REACH)}
DRAG_LOSS_MIN = (DRAG_TO - DRAG_FROM) * BRUSH_SIZE  # grains: half the swept cells of both rows

# The one line a runtime that refuses the display prints, and the depth an
# SDL2-backed runtime refuses.
REFUSAL = "vesk: cannot open the 200x300 window: "
SDL2_REFUSED_DEPTH = 8


def check_crater(p):
    """Holding a button wipes a hole under the X, and only while it is held."""
    x, y = CRATER_SPOT
    cross_follows(p, x, y, "crater")
    before = wait_settled(p, "crater")
    xdo(p, "mousedown", CRATER_BUTTON)
    try:
        time.sleep(CRATER_HOLD_S)
        held = screenshot(p)
    finally:
        xdo(p, "mouseup", CRATER_BUTTON)
    time.sleep(AFTER_RELEASE_S)
    after = screenshot(p)
    hole_green = count(held, GREEN, x - HOLE_REACH, y - HOLE_REACH, x + HOLE_REACH + 1,
                       y + HOLE_REACH + 1)
    held_below = count(held, BLACK, 0, y + BELOW_FROM, DRAWN_COLUMNS, WINDOW_HEIGHT)
    after_below = count(after, BLACK, 0, y + BELOW_FROM, DRAWN_COLUMNS, WINDOW_HEIGHT)
    loss = count(before, GREEN) - count(after, GREEN)
    settled = wait_settled(p, "crater_settled")
    later_loss = count(after, GREEN) - count(settled, GREEN)
    seen = ("while held %d green px within %d px of the pointer; %d bare px from %d px "
            "under it down while held, %d after release; %d grains gone, %d more once "
            "settled" % (hole_green, HOLE_REACH, held_below, BELOW_FROM, after_below, loss,
                         later_loss))
    if hole_green:
        fail_with(p, "crater_held", held, "expected no green within %d px of the pointer "
                  "(%d, %d) while the button is held; %s" % (HOLE_REACH, x, y, seen))
    if held_below:
        fail_with(p, "crater_held", held, "expected the pile under the brush untouched "
                  "while the button is held; %s" % seen)
    if after_below or not CRATER_LOSS_MIN <= loss <= CRATER_LOSS_MAX:
        fail_with(p, "crater_after", after, "expected %d..%d grains wiped out, the pile "
                  "under the brush untouched; %s" % (CRATER_LOSS_MIN, CRATER_LOSS_MAX, seen))
    if later_loss > RELEASE_DRIFT_MAX:
        fail_with(p, "crater_settled", settled, "expected erasing to stop at release (at "
                  "most %d px of drift); %s" % (RELEASE_DRIFT_MAX, seen))
    return seen


def check_crosshair(p):
    """The X follows the pointer, and leaves nothing at its old place."""
    seen = ["at (%d, %d): %s" % (x, y, cross_follows(p, x, y)[1]) for x, y in CROSS_SPOTS]
    p.cross = CROSS_SPOTS[-1]
    return "; ".join(seen)


def check_same_as_linux(p, linux):
    """With the pointer at the same spot, the settled pile is the Linux program's, pixel
    for pixel."""
    find_window(linux)
    pictures = []
    for q in (linux, p):
        cross_follows(q, *PILE_REST, what="same_as_linux")
        pictures.append(wait_settled(q, "same_as_linux"))
    native, shot = pictures
    # Pixel classes: a runtime may show full green as 254 (a 16-bit surface's green).
    differ = [i for i in range(WINDOW_WIDTH * WINDOW_HEIGHT) if shot.cls[i] != native.cls[i]]
    if differ:
        i = differ[0]
        fail_with(p, "same_as_linux", shot, "expected the Linux program's picture (%s); %d "
                  "pixels differ, the first at (%d, %d): %s, not %s" % (
                      save_png(linux, "same_as_linux", native), len(differ),
                      i % WINDOW_WIDTH, i // WINDOW_WIDTH, tuple(shot.rgb[3 * i:3 * i + 3]),
                      tuple(native.rgb[3 * i:3 * i + 3])))
    close(linux)
    return "the %d pixels equal the Linux program's" % (WINDOW_WIDTH * WINDOW_HEIGHT)


def check_keys(p):
    """Keys to the focused window neither move the X, nor touch the pile, nor end it."""
    x, y = p.cross
    keys = [k for k in KEYS if p.runtime != "wine" or k not in WINDOWS_CLOSE_KEYS]
    before = wait_settled(p, "keys")
    xdo(p, "windowfocus", "--sync", p.window)
    focus = xdo(p, "getwindowfocus", "-f").strip()
    check(focus == p.window, "keys: expected the focus on the program's window %s; it is on "
          "%s" % (p.window, focus))
    xdo(p, "key", "--delay", "20", *keys)
    time.sleep(KEYS_AFTER_S)
    expect_alive(p)
    shot = screenshot(p)
    problem, text = describe_cross(shot, x, y)
    if problem or shot.cls != before.cls:
        fail_with(p, "keys", shot, "expected keys %s to leave the X at (%d, %d) and the pile "
                  "as they were; green went from %d to %d px, X: %s" % (
                      " ".join(keys), x, y, count(before, GREEN), count(shot, GREEN), text))
    return "window focused, keys %s: X still at (%d, %d), pile as it was" % (
        " ".join(keys), x, y)


def wait_hole(p, x, y, reach, what):
    """Waits, button held, until no green is left within reach px of (x, y)."""
    def judge(shot):
        green = count(shot, GREEN, x - reach, y - reach, x + reach + 1, y + reach + 1)
        return green and "expected no green within %d px of (%d, %d) with the button held; " \
            "%d green px" % (reach, x, y, green)
    wait_shot(p, what, HOLE_APPEAR_S, judge)


def check_drag(p):
    """Dragging with a button held erases along the path, out of the window and back."""
    cross_follows(p, *DRAG_PATH[0], what="drag")
    before = wait_settled(p, "drag")
    xdo(p, "mousedown", DRAG_BUTTON)
    try:
        for spot in DRAG_PATH:
            pointer(p, *spot)
            if spot in DRAG_CHECKPOINTS:
                wait_hole(p, *DRAG_CHECKPOINTS[spot], "drag_held")
    finally:
        xdo(p, "mouseup", DRAG_BUTTON)
    time.sleep(AFTER_RELEASE_S)
    after = screenshot(p)
    loss = count(before, GREEN) - count(after, GREEN)
    below = DRAG_ROW + BELOW_FROM
    below_bare = count(after, BLACK, 0, below, DRAWN_COLUMNS, WINDOW_HEIGHT)
    seen = ("bare under the brush at %s; %d grains gone; %d bare px from row %d down"
            % (", ".join("(%d, %d)" % c[:2] for c in DRAG_CHECKPOINTS.values()), loss,
               below_bare, below))
    if loss < DRAG_LOSS_MIN or below_bare:
        fail_with(p, "drag", after, "expected at least %d grains wiped out along the path "
                  "and the pile under it untouched; %s" % (DRAG_LOSS_MIN, seen))
    return seen


def window_suite(args, results):
    name = "e2e_%s_%d" % (args.runtime, args.depth)
    servers, runs = [], []
    steps = [("window", find_window), ("runtime", loaded_runtime), ("pile", check_pile)]

    def start_runs():
        if args.runtime == "wine":
            servers.append(start_xvfb())
            runs.append(start(args, "system", servers[-1].display, name=name + "_linux"))
            steps.append(("linux", lambda p: check_same_as_linux(p, runs[0])))
        servers.append(start_xvfb(args.depth))
        runs.append(start(args, args.runtime, servers[-1].display, name=name))
        return "Xvfb %s at depth %d, program pid %d" % (runs[-1].display, args.depth,
                                                         runs[-1].pid)
    try:
        if not run_case(results, name + " start", start_runs):
            return
        steps += [("crosshair", check_crosshair), ("keys", check_keys),
                  ("crater", check_crater), ("drag", check_drag), ("close", close)]
        for step, check_step in steps:
            if (args.depth == FULL_DEPTH or step in DEPTH_CHECKS) and \
                    not run_case(results, "%s %s" % (name, step), check_step, runs[-1]):
                return
    finally:
        for run in runs:
            kill(run)
        for server in servers:
            stop(server.proc)


def refusal(args):
    """A runtime that cannot show the display: its one line and status 1."""
    server = start_xvfb(args.depth)
    try:
        p = start(args, args.runtime, server.display)
        return "status 1, %r" % expect_failure(p, (REFUSAL,), status=1)[0]
    finally:
        stop(server.proc)


def no_display(args):
    """With no display the program prints one "vesk: " line and exits 1.

    No video driver is named and TERM names a terminal: SDL's classic runtime
    would gladly fall back to drawing in the terminal (libcaca) and the
    SDL2-backed one to its offscreen driver; the program must refuse both."""
    p = start(args, args.runtime, extra={"TERM": "xterm"})
    return "status 1, %r" % expect_failure(p, (ERROR_PREFIX,), status=1)[0]


def main():
    parser = arguments("End-to-end tests of vesk.")
    parser.add_argument("suite", choices=("window", "no-display"))
    parser.add_argument("--depth", type=int, default=FULL_DEPTH)
    args = parser.parse_args()
    os.makedirs(args.artifacts, exist_ok=True)
    sdl = runtime_or_skip(args.runtime, args.vesk) if args.runtime in LINUX_RUNTIMES else None
    results = []
    if args.suite == "no-display":
        run_case(results, "no_display[%s]" % args.runtime, no_display, args)
    elif sdl and sdl.sdl2 and args.depth == SDL2_REFUSED_DEPTH:
        run_case(results, "refusal[%s, depth %d]" % (args.runtime, args.depth), refusal, args)
    else:
        window_suite(args, results)
    return report(results)


if __name__ == "__main__":
    sys.exit(main())
