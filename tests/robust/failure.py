#!/usr/bin/env python3
"""failure.py: the real program when its display or its memory fails.

   failure.py --vesk PATH --wm-close PATH [--runtime system|private]

Cases, on one of the X harness's SDL 1.2 runtimes (skipped, saying why, where
it is not tested; the case of no display at all is tests/e2e's no-display):
  missing_server   DISPLAY naming a local display where no server listens
  server_killed    the X server killed (TERM, and KILL during a drag) while the toy runs
  short_memory     address-space limits (RLIMIT_AS, as `ulimit -v` sets) a few
                   MiB below what the running toy uses, so that the grain list
                   is what runs out
  modest_memory    limits of 64 and 256 MiB, several times what the toy needs:
                   it runs, and closes with 0
  headless         the dummy video driver with no display: runs, and a
                   SIGTERM (which SDL turns into a quit request) ends it with 0

Every failing run must end by itself within a bounded time with a non-zero
exit status that is not a signal (core dumps are disabled, so none can be
left), print a clear line on standard error, print nothing on standard
output, and show no crash report (see xharness.CRASH_MARKERS).
"""

import os
import resource
import signal
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import xharness as xs  # noqa: E402

# The program's own start-up failure lines.
START_FAILURES = ("vesk: cannot start SDL", "vesk: cannot open the")
GRAINS_FAILURE = "vesk: out of memory for the grains"
# Xlib's own lines when the connection to the server is lost.
CONNECTION_LOST = ("X connection to", "fatal IO error")

# Display numbers tried for a display where no server listens.
MISSING_DISPLAY_FIRST = 900
MISSING_DISPLAY_LAST = 999
X11_SOCKET_DIR = "/tmp/.X11-unix"

# Seconds the toy runs before its X server is killed.
RUN_BEFORE_KILL_S = 2.0
# Seconds the headless toy runs before the quit request.
HEADLESS_RUN_S = 3.0

# Address-space limits for short_memory: the running toy's VmSize less 1 to
# LIMIT_STEPS times LIMIT_STEP_KB KiB. Seeding frees each refused node
# before allocating the next, so the grain list peaks at its 57,438 blocks
# of 48 bytes, some 2.7 MiB: the steps stay inside that band, above the
# limits where SDL and the X libraries themselves run out (and may abort).
LIMIT_STEP_KB = 256
LIMIT_STEPS = 6
# The running toy's VmSize is read until two reads this far apart agree, at most this often.
SIZE_READ_PAUSE_S = 0.5
SIZE_READS = 20
# Limits for modest_memory, in MiB: each several times what the toy needs.
MODEST_LIMITS_MIB = (64, 256)
# A run under a limit that gets as far as a window is closed after this long.
LIMITED_RUN_S = 1.0


def unused_display():
    for number in range(MISSING_DISPLAY_FIRST, MISSING_DISPLAY_LAST + 1):
        if not os.path.exists(os.path.join(X11_SOCKET_DIR, "X%d" % number)) and not os.path.exists(
            "/tmp/.X%d-lock" % number
        ):
            return ":%d" % number
    raise xs.Failure("no unused display number in %d..%d" % (MISSING_DISPLAY_FIRST,
                                                             MISSING_DISPLAY_LAST))


def missing_server(args, runtime):
    display = unused_display()
    p = xs.start(args, runtime, display)
    return xs.expect_failure(p, START_FAILURES)[0]


def server_killed(args, runtime, sig, dragging):
    server = xs.start_xvfb()
    try:
        p = xs.start(args, runtime, server.display)
        xs.find_window(p)
        time.sleep(RUN_BEFORE_KILL_S)
        if dragging:
            xs.xdo(p, "mousemove", "--window", p.window, 100, 150, "mousedown", 1,
                   "mousemove", "--window", p.window, 120, 200)
        xs.stop(server.proc, sig)
        return xs.expect_failure(p, CONNECTION_LOST)[0].strip()
    finally:
        xs.stop(server.proc)


def run_and_close(p):
    """For a run that got as far as a window: closing it must end it with 0."""
    xs.find_window(p)
    time.sleep(LIMITED_RUN_S)
    xs.close(p)


def short_memory(args, runtime):
    """Limits the address space to a little less than the running toy uses
    (its whole grain list included), so that SDL and the window start and
    the grain list runs out; every run must end cleanly and at least one
    must report the grains."""
    server = xs.start_xvfb()
    try:
        p = xs.start(args, runtime, server.display)
        xs.find_window(p)
        # The window opens before the grain list is built: wait until the size holds still.
        full_kb = xs.proc_status(p.pid, "VmSize")
        for _ in range(SIZE_READS):
            time.sleep(SIZE_READ_PAUSE_S)
            now_kb = xs.proc_status(p.pid, "VmSize")
            if now_kb == full_kb:
                break
            full_kb = now_kb
        run_and_close(p)
        outcomes = []
        for step in range(1, LIMIT_STEPS + 1):
            limit_kb = full_kb - step * LIMIT_STEP_KB
            p = xs.start(args, runtime, server.display,
                         limits={resource.RLIMIT_AS: limit_kb * 1024})
            if xs.wait(p) is None:
                run_and_close(p)
                outcomes.append("%d: ran" % limit_kb)
                continue
            lines = xs.expect_failure(p, START_FAILURES + (GRAINS_FAILURE,), seconds=0)
            outcomes.append("%d: %s" % (limit_kb, "grains" if GRAINS_FAILURE in lines[-1]
                                        else lines[-1]))
        grains = [o for o in outcomes if o.endswith("grains")]
        xs.check(grains, "no limit made the grain list run out: %s" % "; ".join(outcomes))
        return "toy uses %d KiB; %s" % (full_kb, "; ".join(outcomes))
    finally:
        xs.stop(server.proc)


def modest_memory(args, runtime):
    """Address-space limits far above what the toy needs must let it run:
    under the SDL 2 backed runtime an OpenGL stack loaded to show a software
    surface needs hundreds of MiB and fails or crashes under such limits."""
    server = xs.start_xvfb()
    try:
        for limit_mib in MODEST_LIMITS_MIB:
            p = xs.start(args, runtime, server.display,
                         limits={resource.RLIMIT_AS: limit_mib * 1024 * 1024})
            try:
                run_and_close(p)
            except xs.Failure as error:
                raise xs.Failure("limit %d MiB: %s" % (limit_mib, error))
            finally:
                xs.kill(p)
        return None
    finally:
        xs.stop(server.proc)


def headless(args, runtime):
    p = xs.start(args, runtime, extra={"SDL_VIDEODRIVER": "dummy"})
    time.sleep(HEADLESS_RUN_S)
    xs.expect_alive(p)
    try:
        xs.close(p, request=lambda p: p.proc.send_signal(signal.SIGTERM), what="SIGTERM")
    finally:
        xs.kill(p)


def main():
    args = xs.arguments(__doc__.splitlines()[0], xs.LINUX_RUNTIMES).parse_args()
    runtime = args.runtime
    xs.runtime_or_skip(runtime, args.vesk)
    results = []
    xs.run_case(results, "missing_server[%s]" % runtime, missing_server, args, runtime)
    xs.run_case(results, "server_killed_term[%s]" % runtime, server_killed, args, runtime,
                signal.SIGTERM, False)
    xs.run_case(results, "server_killed_kill_dragging[%s]" % runtime, server_killed, args,
                runtime, signal.SIGKILL, True)
    xs.run_case(results, "short_memory[%s]" % runtime, short_memory, args, runtime)
    xs.run_case(results, "modest_memory[%s]" % runtime, modest_memory, args, runtime)
    xs.run_case(results, "headless[%s]" % runtime, headless, args, runtime)
    return xs.report(results)


if __name__ == "__main__":
    sys.exit(main())
