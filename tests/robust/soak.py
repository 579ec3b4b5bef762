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

import os
import random
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import xharness as xs  # noqa: E402

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
# Where the pointer rests for the before-and-after screenshots, window pixels.
REST_POINT = (100, 20)
# Neighbouring inner pixel columns of the settled pile differ by at most this
# many rows (one grain row, plus rounding of the grid onto pixels).
HEIGHT_STEP_PX = 2
# Pointer positions for the crosshair checks keep the whole X (10 pixels each
# way across, 15 up and down) inside the window.
CROSSHAIR_MARGIN_X = 20
CROSSHAIR_MARGIN_Y = 25
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

    def __init__(self, p, rng):
        self.p = p
        self.window = p.window
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
            xs.xdo(self.p, *self.chain)
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
        x, y, w, h = xs.geometry(self.p)
        cw, ch = self.rng.randint(60, 300), self.rng.randint(60, 300)
        cx = x + self.rng.randint(-cw // 2, max(w - cw // 2, 1))
        cy = y + self.rng.randint(-ch // 2, max(h - ch // 2, 1))
        self.covers.append(subprocess.Popen(
            ["xmessage", "-geometry", "%dx%d+%d+%d" % (cw, ch, cx, cy), "covering the toy"],
            env=xs.environment(display=self.p.display), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        self.actions += 1
        self.counts["cover"] = self.counts.get("cover", 0) + 1

    def remove_covers(self, n=None):
        keep = self.covers[n:] if n is not None else []
        for c in self.covers[: n if n is not None else len(self.covers)]:
            xs.stop(c)
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
        xs.xdo(self.p, "windowmap", self.window, "windowmove", self.window, *HOME,
               "windowraise", self.window)
        self.mapped = True
        xs.expect_alive(self.p)


def pile_heights(image):
    """Per pixel column, the height of the green run from the floor, or None
    for a column the crosshair crosses (its white may hide green or black);
    fails on green above a gap."""
    heights = []
    for column in range(image.w):
        height = None
        crossed = False
        for row in range(image.h - 1, -1, -1):
            cls = image.cls[row * image.w + column]
            crossed = crossed or cls == xs.WHITE
            if height is None and cls == xs.BLACK:
                height = image.h - 1 - row
            elif height is not None and cls == xs.GREEN:
                raise xs.Failure("pixel column %d: green at row %d above a gap at height %d"
                                 % (column, row, height))
        if height is None:
            height = image.h
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
    server = xs.start_xvfb()
    storm = p = None
    try:
        p = xs.start(args, runtime, server.display)
        xs.find_window(p)
        xs.xdo(p, "windowmove", p.window, *HOME, "mousemove", "--window", p.window, *REST_POINT)
        before = xs.wait_settled(p, "before")
        check_pile(before, "before the storm")
        green_before = xs.count(before, xs.GREEN)
        white_before = xs.count(before, xs.WHITE)
        rss_start = xs.proc_status(p.pid, "VmRSS")
        rss_samples = [rss_start]

        storm = Storm(p, random.Random(args.seed))
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
                x = storm.rng.randint(CROSSHAIR_MARGIN_X, xs.WINDOW_WIDTH - CROSSHAIR_MARGIN_X)
                y = storm.rng.randint(CROSSHAIR_MARGIN_Y, xs.WINDOW_HEIGHT - CROSSHAIR_MARGIN_Y)
                xs.cross_follows(p, x, y)
                checks += 1
                rss_samples.append(xs.proc_status(p.pid, "VmRSS"))
                next_check = time.monotonic() + CHECK_EVERY_S
        storm.checkpoint()
        storm_s = time.monotonic() - started
        xs.cross_follows(p, *REST_POINT)
        checks += 1

        after = xs.wait_settled(p, "after")
        rss_end = xs.proc_status(p.pid, "VmRSS")
        rss_samples.append(rss_end)
        check_pile(after, "after the storm")
        green_after = xs.count(after, xs.GREEN)
        xs.check(green_after <= green_before + white_before,
                 "more green after the storm (%d pixels) than before (%d, %d more under the "
                 "crosshair)" % (green_after, green_before, white_before))
        xs.check(max(rss_samples) <= rss_start + RSS_SLACK_KB,
                 "resident memory grew from %d KiB to %d KiB (samples %s)"
                 % (rss_start, max(rss_samples), rss_samples))
        xs.close(p)
        kinds = ", ".join("%s %d" % kv for kv in sorted(storm.counts.items()))
        return ("%.0f s storm, %d input actions (%s); crosshair followed at %d checks; "
                "green pixels %d -> %d; VmRSS %d KiB settled, %d KiB at the end, %d KiB at most"
                % (storm_s, storm.actions, kinds, checks, green_before, green_after, rss_start,
                   rss_end, max(rss_samples)))
    finally:
        if storm is not None:
            storm.remove_covers()
        if p is not None:
            xs.kill(p)
        xs.stop(server.proc)


def main():
    parser = xs.arguments(__doc__.splitlines()[0], xs.LINUX_RUNTIMES)
    parser.add_argument("--seconds", type=float, default=SOAK_S)
    parser.add_argument("--seed", type=int, default=SEED)
    args = parser.parse_args()
    results = []
    xs.run_case(results, "soak[%s]" % args.runtime, soak, args, args.runtime)
    return xs.report(results)


if __name__ == "__main__":
    sys.exit(main())
