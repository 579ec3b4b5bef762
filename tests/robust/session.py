#!/usr/bin/env python3
"""session.py: a short scripted session of the real program, end to end.

   session.py --vesk PATH --wm-close PATH [--runtime system|private] [--valgrind]
              [--seed N]

Under a private Xvfb: the crosshair must follow the pointer; then the X
harness's seeded input (xharness.input_tour, every kind of input once, and a
short input_storm); the crosshair must still follow; a window manager's close
request must end the toy with status 0.

Built with -DVESK_SANITIZE=address,undefined, the program stops at the first
sanitizer report and LeakSanitizer checks for leaks at exit (the libraries'
own leaks listed in lsan.supp aside). With --valgrind the program runs under
memcheck: no invalid read or write, no use of an uninitialised value, and
nothing definitely lost (the libraries' own, listed in valgrind.supp,
aside). Either way standard error must hold no crash report.
"""

import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import xharness as xs  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
LSAN_SUPPRESSIONS = os.path.join(HERE, "lsan.supp")
VALGRIND_SUPPRESSIONS = os.path.join(HERE, "valgrind.supp")
# Sanitizer builds report on standard error and stop at the first error;
# LeakSanitizer skips the libraries' leaks listed in lsan.supp.
SANITIZER_ENVIRONMENT = {
    "ASAN_OPTIONS": "detect_leaks=1:halt_on_error=1:abort_on_error=0",
    "LSAN_OPTIONS": "suppressions=%s:print_suppressions=0" % LSAN_SUPPRESSIONS,
    "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1"}
# valgrind's exit status when it found an error.
VALGRIND_ERROR_STATUS = 99

# Waits under valgrind, which runs the toy some 20 to 50 times slower, in seconds.
VALGRIND_WINDOW_WAIT_S = 180
VALGRIND_EXIT_WAIT_S = 120
# Seconds allowed for the crosshair to catch up under valgrind.
VALGRIND_CROSSHAIR_S = 20

# Pointer positions, window pixels, where the crosshair is checked.
CHECK_POINTS = ((100, 150), (40, 60), (160, 250))
# Input actions of the seeded storm after the tour, and the seconds it may take at most.
STORM_ACTIONS = 150
STORM_S = 10


def valgrind_verdict(log_dir, runtime):
    """Reads the logs of the run (one a process: SDL's libraries may fork)."""
    prefix = "valgrind-%s." % runtime
    logs = sorted(n for n in os.listdir(log_dir) if n.startswith(prefix))
    xs.check(logs, "no valgrind log")
    for name in logs:
        with open(os.path.join(log_dir, name), errors="replace") as f:
            log = f.read()
        summary = re.search(r"ERROR SUMMARY: (\d+) errors", log)
        lost = re.search(r"definitely lost: ([\d,]+) bytes", log)
        xs.check(summary, "no valgrind summary in %s" % name)
        errors = int(summary.group(1))
        lost_bytes = int(lost.group(1).replace(",", "")) if lost else 0
        if errors or lost_bytes:
            raise xs.Failure("valgrind: %d errors, %d bytes definitely lost:\n%s" % (
                errors, lost_bytes, log[-6000:]))
    return "valgrind (%d process logs): 0 errors, 0 bytes definitely lost" % len(logs)


def session(args, runtime, log_dir):
    server = xs.start_xvfb()
    try:
        wrapper = ()
        window_wait, exit_wait, cross_wait = xs.WINDOW_WAIT_S, xs.EXIT_WAIT_S, xs.CROSS_WAIT_S
        if args.valgrind:
            log_path = os.path.join(log_dir, "valgrind-%s.%%p.log" % runtime)
            wrapper = (
                "valgrind", "--tool=memcheck", "--error-exitcode=%d" % VALGRIND_ERROR_STATUS,
                "--leak-check=full", "--errors-for-leak-kinds=definite",
                "--show-leak-kinds=definite", "--track-origins=yes",
                "--suppressions=" + VALGRIND_SUPPRESSIONS, "--log-file=" + log_path)
            window_wait, exit_wait, cross_wait = (VALGRIND_WINDOW_WAIT_S, VALGRIND_EXIT_WAIT_S,
                                                  VALGRIND_CROSSHAIR_S)
        p = xs.start(args, runtime, server.display, SANITIZER_ENVIRONMENT,
                     wrapper=wrapper)
        try:
            xs.find_window(p, window_wait)
            for x, y in CHECK_POINTS:
                xs.cross_follows(p, x, y, seconds=cross_wait)
            script = xs.input_script(p, args.seed)
            xs.input_tour(script)
            xs.input_storm(script, STORM_S, xs.input_actions(script) + STORM_ACTIONS)
            for x, y in CHECK_POINTS:
                xs.cross_follows(p, x, y, seconds=cross_wait)
            try:
                xs.close(p, exit_wait)
            except xs.Failure:
                if args.valgrind and p.proc.returncode == VALGRIND_ERROR_STATUS:
                    valgrind_verdict(log_dir, runtime)  # fails with valgrind's own log
                raise
        finally:
            xs.kill(p)
        note = "%d input actions, crosshair followed at %d points" % (
            xs.input_actions(script), 2 * len(CHECK_POINTS))
        if args.valgrind:
            note += "; " + valgrind_verdict(log_dir, runtime)
        return note
    finally:
        xs.stop(server.proc)


def main():
    parser = xs.arguments(__doc__.splitlines()[0], xs.LINUX_RUNTIMES)
    parser.add_argument("--valgrind", action="store_true")
    parser.add_argument("--seed", type=int, default=xs.INPUT_SEED)
    args = parser.parse_args()
    xs.runtime_or_skip(args.runtime, args.vesk)
    results = []
    with tempfile.TemporaryDirectory() as log_dir:
        name = "%s[%s]" % ("valgrind_session" if args.valgrind else "session", args.runtime)
        xs.run_case(results, name, session, args, args.runtime, log_dir)
    return xs.report(results)


if __name__ == "__main__":
    sys.exit(main())
