#!/usr/bin/env python3
"""soak.py: about a minute of scripted X input on the running toy.

   soak.py --vesk PATH --wm-close PATH [--seconds S] [--runtime system|private] [--seed N]

The X harness's seeded input (xharness.input_script): its tour of every kind
of input, then its storm drawn at random, other windows covering the toy
included, bounded both in time (--seconds: SOAK_S, a minute on the system
runtime and half of it on the private one) and in count (MAX_ACTIONS input
actions).

Every CHECK_EVERY_S seconds the storm pauses: the buttons released, the
covers removed and the window back on the screen, the crosshair must follow
the pointer; the toy's resident memory (VmRSS) is sampled.

Checked at the end:
  - resident memory stayed flat: never more than RSS_SLACK_KB above what it
    was once the pile had settled after start-up;
  - the settled pile, with the pointer at the same place, before the storm
    (the fresh pile) and after it (xharness.check_pile), and no more green
    after than before (a grain only ever disappears);
  - a window manager's close request ends the toy with status 0, with no
    crash report on standard error.
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import xharness as xs  # noqa: E402

SOAK_S = {"system": 60, "private": 30}
MAX_ACTIONS = 40000
CHECK_EVERY_S = 6
# Resident memory may grow this much over the settled start, in KiB.
RSS_SLACK_KB = 2048


def soak(args, runtime):
    server = xs.start_xvfb()
    storm = p = None
    try:
        p = xs.start(args, runtime, server.display)
        xs.find_window(p)
        xs.xdo(p, "windowmove", p.window, *xs.HOME, "mousemove", "--window", p.window,
               *xs.PILE_REST)
        xs.check_pile(p, "before")
        before = p.pile
        rss_start = xs.proc_status(p.pid, "VmRSS")
        rss_samples = [rss_start]

        storm = xs.input_script(p, args.seed, covers=True)
        started = time.monotonic()
        xs.input_tour(storm)
        checks = 0
        while time.monotonic() - started < args.seconds and \
                xs.input_actions(storm) < MAX_ACTIONS:
            xs.input_storm(storm, min(CHECK_EVERY_S, args.seconds - (time.monotonic() - started)),
                           MAX_ACTIONS)
            # Anywhere an X's size or more from the edges: all of it in the window.
            xs.cross_follows(p, storm.rng.randint(xs.CROSS_WIDTH, xs.WINDOW_WIDTH - xs.CROSS_WIDTH),
                             storm.rng.randint(xs.CROSS_HEIGHT, xs.WINDOW_HEIGHT - xs.CROSS_HEIGHT))
            checks += 1
            rss_samples.append(xs.proc_status(p.pid, "VmRSS"))
        storm_s = time.monotonic() - started
        xs.cross_follows(p, *xs.PILE_REST)

        seen = xs.check_pile(p, "after", fresh=False)
        rss_samples.append(xs.proc_status(p.pid, "VmRSS"))
        green_before, white_before = xs.count(before, xs.GREEN), xs.count(before, xs.WHITE)
        green_after = xs.count(p.pile, xs.GREEN)
        xs.check(green_after <= green_before + white_before,
                 "more green after the storm (%d pixels) than before (%d, %d more under the "
                 "crosshair)" % (green_after, green_before, white_before))
        xs.check(max(rss_samples) <= rss_start + RSS_SLACK_KB,
                 "resident memory grew from %d KiB to %d KiB (samples %s)"
                 % (rss_start, max(rss_samples), rss_samples))
        xs.close(p)
        kinds = ", ".join("%s %d" % kv for kv in sorted(storm.counts.items()))
        return ("%.0f s storm, %d input actions (%s); crosshair followed at %d checks; "
                "green pixels %d -> %d, after: %s; VmRSS %d KiB settled, %d KiB at the end, "
                "%d KiB at most" % (storm_s, xs.input_actions(storm), kinds, checks + 1,
                                    green_before, green_after, seen, rss_start,
                                    rss_samples[-1], max(rss_samples)))
    finally:
        if storm is not None:
            xs.input_end(storm)
        if p is not None:
            xs.kill(p)
        xs.stop(server.proc)


def main():
    parser = xs.arguments(__doc__.splitlines()[0], xs.LINUX_RUNTIMES)
    parser.add_argument("--seconds", type=float)
    parser.add_argument("--seed", type=int, default=xs.INPUT_SEED)
    args = parser.parse_args()
    xs.runtime_or_skip(args.runtime, args.vesk)
    args.seconds = args.seconds or SOAK_S[args.runtime]
    results = []
    xs.run_case(results, "soak[%s]" % args.runtime, soak, args, args.runtime)
    return xs.report(results)


if __name__ == "__main__":
    sys.exit(main())
