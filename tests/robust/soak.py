#!/usr/bin/env python3
"""soak.py: about a minute of scripted X input on the running toy.

   soak.py --vesk PATH --wm-close PATH [--seconds S] [--runtime classic|compat] [--seed N]

A storm of real X input through xdotool, drawn from a seeded generator and
bounded both in time (--seconds, 60 by default) and in count (MAX_ACTIONS
input actions): pointer moves inside and outside the window, presses and
releases of buttons 1 to 9 (4 to 7 are wheel steps), clicks, wheel bursts,
long drags that leave the window and come back, keys, the window moved
(partly off the screen too), unmapped and mapped, raised, and covered by
other windows (xmessage) that come and go.

Every CHECK_EVERY_S seconds a checkpoint releases the buttons, removes the
covers, puts the window back on the screen and checks that the crosshair
follows the pointer, and samples the toy's resident memory (VmRSS).

Checked at the end:
  - the crosshair kept following the pointer at every checkpoint;
  - resident memory stayed flat: never more than RSS_SLACK_KB above what it
    was once the pile had settled after start-up;
  - the world invariant, through screenshots of the settled pile with the
    pointer at the same place: no more green than before the storm (a
    grain only ever disappears), and a plausible pile: every pixel column
    green from the floor up without a gap and nothing green above, and
    neighbouring inner columns at most HEIGHT_STEP_PX apart (a grain rests
    only with its cell below and, off the outermost columns, both diagonal
    cells below taken);
  - a window manager's close request ends the toy with status 0, with no
    crash report on standard error.
"""

import argparse
import random
import subprocess
import sys
import time

import xsession as xs

SOAK_S = 60
MAX_ACTIONS = 40000
SEED = 20240611
# xdotool commands sent per xdotool run, and the pause after each run, in seconds.
BATCH = 40
BATCH_PAUSE_S = 0.02
# xdotool's pause inside a click or a key stroke, in milliseconds (its own default is 12
# for keys and makes a click take some 100 ms).
CLICK_DELAY_MS = 1
CHECK_EVERY_S = 6
# Resident memory may grow this much over the settled start, in KiB.
RSS_SLACK_KB = 2048
# Settling: screenshots this far apart until two are the same, at most this many.
SETTLE_PAUSE_S = 0.5
SETTLE_TRIES = 80
# Where the pointer rests for the before-and-after screenshots, window pixels.
REST_POINT = (100, 10)
# Neighbouring inner pixel columns of the settled pile differ by at most this
# many rows (one grain row, plus rounding of the grid onto pixels).
HEIGHT_STEP_PX = 2
# Pixel columns of the outermost grain columns 1 and 200, which obey no slope;
# pixel column 199 shows no grain column at all.
EDGE_COLUMNS = (0, 198)
EMPTY_COLUMN = 199
# Where the window is put back at checkpoints and at the end, screen pixels.
HOME = (50, 50)
MAX_COVERS = 3
KEYS = ("a", "z", "q", "Escape", "Return", "space", "F1", "F10", "Up", "Left", "ctrl+c",
        "alt+F4", "shift+Tab", "BackSpace", "Delete", "super", "ctrl+alt+Delete", "Menu")


class Storm:
    """The soak's state: the X server, the toy, its window, and what is held."""

    def __init__(self, args, server, program, window, rng):
        self.args = args
        self.display = server.display
        self.program = program
        self.window = window
        self.rng = rng
        self.held = None  # button held down, or None
        self.covers = []  # xmessage processes
        self.mapped = True
        self.actions = 0
        self.chain = []
        self.counts = {}

    def add(self, kind, *words):
        self.chain.extend(str(w) for w in words)
        self.actions += 1
        self.counts[kind] = self.counts.get(kind, 0) + 1

    def flush(self):
        if self.chain:
            xs.xdo(self.display, *self.chain)
            self.chain = []

    def inside(self):
        return self.rng.randrange(xs.WINDOW_WIDTH), self.rng.randrange(xs.WINDOW_HEIGHT)

    def outside(self):
        # Anywhere on the screen; mostly off the window wherever it is.
        return self.rng.randrange(xs.SCREEN_WIDTH), self.rng.randrange(xs.SCREEN_HEIGHT)

    def move_inside(self):
        x, y = self.inside()
        self.add("move", "mousemove", "--window", self.window, x, y)

    def move_outside(self):
        self.add("move", "mousemove", *self.outside())

    def click(self):
        self.add("click", "click", "--delay", CLICK_DELAY_MS, self.rng.randint(1, 9))

    def press_or_release(self):
        if self.held is None:
            self.held = self.rng.randint(1, 9)
            self.add("press", "mousedown", self.held)
        else:
            self.add("release", "mouseup", self.held)
            self.held = None

    def long_drag(self):
        if self.held is not None:
            self.add("release", "mouseup", self.held)
        button = self.rng.choice((1, 1, 2, 3))
        self.move_inside()
        self.add("press", "mousedown", button)
        for _ in range(self.rng.randint(20, 60)):
            if self.rng.random() < 0.1:
                self.move_outside()
            else:
                self.move_inside()
        self.add("release", "mouseup", button)
        self.held = None

    def wheel_burst(self):
        button = self.rng.choice((4, 5, 6, 7))
        for _ in range(self.rng.randint(5, 15)):
            self.add("click", "click", "--delay", CLICK_DELAY_MS, button)

    def key(self):
        if self.mapped and self.rng.random() < 0.2:
            # Focusing an unmapped window is an X error.
            self.add("focus", "windowfocus", self.window)
        self.add("key", "key", "--delay", CLICK_DELAY_MS, self.rng.choice(KEYS))

    def move_window(self):
        x = self.rng.randint(-xs.WINDOW_WIDTH // 2, xs.SCREEN_WIDTH - xs.WINDOW_WIDTH // 2)
        y = self.rng.randint(-xs.WINDOW_HEIGHT // 2, xs.SCREEN_HEIGHT - xs.WINDOW_HEIGHT // 2)
        self.add("window", "windowmove", self.window, x, y)

    def map_toggle(self):
        if self.mapped:
            self.add("window", "windowunmap", self.window)
        else:
            self.add("window", "windowmap", self.window)
        self.mapped = not self.mapped

    def raise_window(self):
        self.add("window", "windowraise", self.window)

    def cover(self):
        self.flush()
        self.covers = [c for c in self.covers if c.poll() is None]
        if len(self.covers) >= MAX_COVERS:
            self.remove_covers(1)
            return
        x, y, w, h = xs.geometry(self.display, self.window)
        cw, ch = self.rng.randint(60, 300), self.rng.randint(60, 300)
        cx = x + self.rng.randint(-cw // 2, max(w - cw // 2, 1))
        cy = y + self.rng.randint(-ch // 2, max(h - ch // 2, 1))
        env = xs.base_environment(self.display)
        self.covers.append(subprocess.Popen(
            ["xmessage", "-geometry", "%dx%d+%d+%d" % (cw, ch, cx, cy), "covering the toy"],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL))
        self.actions += 1
        self.counts["cover"] = self.counts.get("cover", 0) + 1

    def remove_covers(self, n=None):
        keep = self.covers[n:] if n is not None else []
        for c in self.covers[: n if n is not None else len(self.covers)]:
            if c.poll() is None:
                c.terminate()
            try:
                c.wait(timeout=xs.EXIT_WAIT_S)
            except subprocess.TimeoutExpired:
                c.kill()
                c.wait(timeout=xs.EXIT_WAIT_S)
        self.covers = keep

    def step(self):
        r = self.rng.random()
        table = (
            (0.30, self.move_inside),
            (0.38, self.move_outside),
            (0.48, self.click),
            (0.58, self.press_or_release),
            (0.63, self.long_drag),
            (0.68, self.wheel_burst),
            (0.80, self.key),
            (0.84, self.move_window),
            (0.86, self.map_toggle),
            (0.88, self.raise_window),
            (0.91, self.cover),
        )
        for bound, action in table:
            if r < bound:
                action()
                return
        self.add("pause", "sleep", "0.0%d" % self.rng.randint(1, 5))

    def checkpoint(self):
        """Releases the buttons, removes the covers and puts the window home."""
        if self.held is not None:
            self.add("release", "mouseup", self.held)
            self.held = None
        self.flush()
        self.remove_covers()
        xs.xdo(self.display, "windowmap", self.window, "windowmove", self.window, *HOME,
               "windowraise", self.window)
        self.mapped = True
        xs.check(self.program.alive(), "the toy ended during the storm: %s; %s" % (
            xs.status_text(self.program.proc.returncode), self.program.stderr()[-3000:]))


def settled(display, window):
    """Screenshots until two in a row are the same; returns the last."""
    previous = xs.screenshot(display, window)
    for _ in range(SETTLE_TRIES):
        time.sleep(SETTLE_PAUSE_S)
        image = xs.screenshot(display, window)
        if image.data == previous.data:
            return image
        previous = image
    raise xs.Failure("the pile did not settle within %d s" % (SETTLE_TRIES * SETTLE_PAUSE_S))


def pile_heights(image):
    """Per pixel column, the height of the green run from the floor, or None
    for a column the crosshair crosses (its white may hide green or black);
    fails on green above a gap."""
    heights = []
    for column in range(image.width):
        height = None
        crossed = False
        for row in range(image.height - 1, -1, -1):
            rgb = image.pixel(column, row)
            crossed = crossed or xs.is_white(rgb)
            if height is None and not (xs.is_green(rgb) or xs.is_white(rgb)):
                height = image.height - 1 - row
            elif height is not None and xs.is_green(rgb):
                raise xs.Failure("pixel column %d: green at row %d above a gap at height %d"
                                 % (column, row, height))
        if height is None:
            height = image.height
        heights.append(None if crossed else height)
    return heights


def check_pile(image, what):
    heights = pile_heights(image)
    xs.check(heights[EMPTY_COLUMN] in (0, None), "%s: pixel column %d, which no grain column maps "
             "to, is green" % (what, EMPTY_COLUMN))
    for column in range(EDGE_COLUMNS[0] + 1, EDGE_COLUMNS[1] - 1):
        if heights[column] is None or heights[column + 1] is None:
            continue
        step = abs(heights[column] - heights[column + 1])
        xs.check(step <= HEIGHT_STEP_PX, "%s: pixel columns %d and %d differ by %d rows (%s)"
                 % (what, column, column + 1, step, heights[column - 2 : column + 4]))
    return heights


def soak(args, runtime):
    server = xs.Xvfb()
    storm = None
    try:
        program = xs.Program([args.vesk], xs.base_environment(server.display, runtime))
        window = xs.find_window(server.display, program)
        xs.xdo(server.display, "windowmove", window, *HOME,
               "mousemove", "--window", window, *REST_POINT)
        before = settled(server.display, window)
        check_pile(before, "before the storm")
        green_before = xs.count(before, xs.is_green)
        white_before = xs.count(before, xs.is_white)
        rss_start = program.rss_kb()
        rss_samples = [rss_start]

        storm = Storm(args, server, program, window, random.Random(args.seed))
        started = time.monotonic()
        next_check = started + CHECK_EVERY_S
        checks = 0
        while time.monotonic() - started < args.seconds and storm.actions < MAX_ACTIONS:
            storm.step()
            if len(storm.chain) >= 2 * BATCH:
                storm.flush()
                time.sleep(BATCH_PAUSE_S)
            if time.monotonic() >= next_check:
                storm.checkpoint()
                x = storm.rng.randint(xs.CROSSHAIR_MARGIN_X, xs.WINDOW_WIDTH - xs.CROSSHAIR_MARGIN_X)
                y = storm.rng.randint(xs.CROSSHAIR_MARGIN_Y,
                                      xs.WINDOW_HEIGHT - xs.CROSSHAIR_MARGIN_Y)
                xs.crosshair_follows(server.display, window, x, y)
                checks += 1
                rss_samples.append(program.rss_kb())
                next_check = time.monotonic() + CHECK_EVERY_S
        storm.checkpoint()
        storm_s = time.monotonic() - started
        xs.crosshair_follows(server.display, window, *REST_POINT)
        checks += 1

        after = settled(server.display, window)
        rss_end = program.rss_kb()
        rss_samples.append(rss_end)
        check_pile(after, "after the storm")
        green_after = xs.count(after, xs.is_green)
        xs.check(green_after <= green_before + white_before,
                 "more green after the storm (%d pixels) than before (%d, %d more under the "
                 "crosshair)" % (green_after, green_before, white_before))
        xs.check(max(rss_samples) <= rss_start + RSS_SLACK_KB,
                 "resident memory grew from %d KiB to %d KiB (samples %s)"
                 % (rss_start, max(rss_samples), rss_samples))

        xs.close_window(server.display, args.wm_close, window)
        status = program.wait()
        program.kill()
        err = program.stderr()
        xs.check(not xs.crash_lines(err), "crash report:\n%s" % err[-3000:])
        xs.check(status == 0, "the close request gave %s; %s" % (xs.status_text(status),
                                                                 err[-3000:]))
        kinds = ", ".join("%s %d" % kv for kv in sorted(storm.counts.items()))
        return ("%.0f s storm, %d input actions (%s); crosshair followed at %d checks; "
                "green pixels %d -> %d; VmRSS %d KiB settled, %d KiB at the end, %d KiB at most"
                % (storm_s, storm.actions, kinds, checks, green_before, green_after, rss_start,
                   rss_end, max(rss_samples)))
    finally:
        if storm is not None:
            storm.remove_covers()
        server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vesk", required=True)
    parser.add_argument("--wm-close", required=True)
    parser.add_argument("--seconds", type=float, default=SOAK_S)
    parser.add_argument("--runtime", choices=xs.RUNTIMES, default="classic")
    parser.add_argument("--seed", type=int, default=SEED)
    args = parser.parse_args()
    results = []
    xs.run_case(results, "soak[%s]" % args.runtime, soak, args, args.runtime)
    return xs.report(results)


if __name__ == "__main__":
    sys.exit(main())
