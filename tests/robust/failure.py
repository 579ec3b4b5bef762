#!/usr/bin/env python3
"""failure.py: the real program when its display or its memory fails.

   failure.py --vesk PATH --wm-close PATH

Cases, each on both runtimes (classic SDL 1.2 and sdl12-compat):
  no_display       DISPLAY unset
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
output, and show no crash report (see xsession.CRASH_MARKERS).
"""

import argparse
import os
import resource
import signal
import sys
import time

import xsession as xs

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


def expect_clean_failure(program, what, allowed_lines, seconds=xs.EXIT_WAIT_S):
    """Waits for a failing run to end and checks how it ended; returns its standard error."""
    status = program.wait(seconds)
    if status is None:
        program.kill()
        raise xs.Failure("%s: still running after %d s (hang)" % (what, seconds))
    err = program.stderr()
    crashes = xs.crash_lines(err)
    xs.check(not crashes, "%s: crash report: %s" % (what, crashes[:3]))
    xs.check(status > 0, "%s: ended with %s, not a failure status" % (what, xs.status_text(status)))
    lines = [line for line in err.splitlines() if any(a in line for a in allowed_lines)]
    xs.check(lines, "%s: %s and no clear message; standard error: %r" % (
        what, xs.status_text(status), err[-1500:]))
    out = program.stdout()
    xs.check(not out, "%s: wrote %d bytes on standard output (a terminal video driver?)" % (
        what, len(out)))
    return lines


def no_display(args, runtime):
    env = xs.base_environment(None, runtime)
    program = xs.Program([args.vesk], env)
    lines = expect_clean_failure(program, "no DISPLAY", START_FAILURES)
    return lines[0]


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
    program = xs.Program([args.vesk], xs.base_environment(display, runtime))
    lines = expect_clean_failure(program, "DISPLAY=%s" % display, START_FAILURES)
    return lines[0]


def server_killed(args, runtime, sig, dragging):
    server = xs.Xvfb()
    try:
        program = xs.Program([args.vesk], xs.base_environment(server.display, runtime))
        window = xs.find_window(server.display, program)
        time.sleep(RUN_BEFORE_KILL_S)
        if dragging:
            xs.xdo(server.display, "mousemove", "--window", window, 100, 150, "mousedown", 1,
                   "mousemove", "--window", window, 120, 200)
        server.kill(sig)
        lines = expect_clean_failure(program, "X server killed with %s" % sig.name,
                                     CONNECTION_LOST)
        return lines[0].strip()
    finally:
        server.stop()


def vm_size_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmSize:"):
                return int(line.split()[1])
    raise xs.Failure("no VmSize for process %d" % pid)


def run_and_close(args, server, program, what):
    """For a run that got as far as a window: closes it, which must end it with 0."""
    window = xs.find_window(server.display, program)
    time.sleep(LIMITED_RUN_S)
    xs.close_window(server.display, args.wm_close, window)
    status = program.wait()
    if status is None:
        program.kill()
    xs.check(status == 0, "%s: closing the running toy gave %s; %s" % (
        what, xs.status_text(status), program.stderr()[-1500:]))


def short_memory(args, runtime):
    """Limits the address space to a little less than the running toy uses
    (its whole grain list included), so that SDL and the window start and
    the grain list runs out; every run must end cleanly and at least one
    must report the grains."""
    server = xs.Xvfb()
    try:
        env = xs.base_environment(server.display, runtime)
        program = xs.Program([args.vesk], env)
        xs.find_window(server.display, program)
        # The window opens before the grain list is built: wait until the size holds still.
        full_kb = vm_size_kb(program.pid)
        for _ in range(SIZE_READS):
            time.sleep(SIZE_READ_PAUSE_S)
            now_kb = vm_size_kb(program.pid)
            if now_kb == full_kb:
                break
            full_kb = now_kb
        run_and_close(args, server, program, "unlimited run")
        outcomes = []
        for step in range(1, LIMIT_STEPS + 1):
            limit_kb = full_kb - step * LIMIT_STEP_KB
            what = "limit %d KiB" % limit_kb
            program = xs.Program([args.vesk], env, limits={resource.RLIMIT_AS: limit_kb * 1024})
            status = program.wait(xs.EXIT_WAIT_S)
            if status is None:
                run_and_close(args, server, program, what)
                outcomes.append("%d: ran" % limit_kb)
                continue
            lines = expect_clean_failure(program, what, START_FAILURES + (GRAINS_FAILURE,),
                                         seconds=0)
            outcomes.append("%d: %s" % (limit_kb, "grains" if GRAINS_FAILURE in lines[-1]
                                        else lines[-1]))
        grains = [o for o in outcomes if o.endswith("grains")]
        xs.check(grains, "no limit made the grain list run out: %s" % "; ".join(outcomes))
        return "toy uses %d KiB; %s" % (full_kb, "; ".join(outcomes))
    finally:
        server.stop()


def modest_memory(args, runtime):
    """Address-space limits far above what the toy needs must let it run:
    under the SDL 2 backed runtime an OpenGL stack loaded to show a software
    surface needs hundreds of MiB and fails or crashes under such limits."""
    server = xs.Xvfb()
    try:
        env = xs.base_environment(server.display, runtime)
        for limit_mib in MODEST_LIMITS_MIB:
            what = "limit %d MiB" % limit_mib
            program = xs.Program([args.vesk], env,
                                 limits={resource.RLIMIT_AS: limit_mib * 1024 * 1024})
            try:
                xs.find_window(server.display, program)
            except xs.Failure as error:
                program.wait(xs.EXIT_WAIT_S)
                program.kill()
                raise xs.Failure("%s: %s (%s)" % (what, error, xs.status_text(program.proc.returncode)))
            run_and_close(args, server, program, what)
        return None
    finally:
        server.stop()


def headless(args, runtime):
    env = xs.base_environment(None, runtime, {"SDL_VIDEODRIVER": "dummy"})
    program = xs.Program([args.vesk], env)
    time.sleep(HEADLESS_RUN_S)
    xs.check(program.alive(), "ended by itself under the dummy driver: %s; %s" % (
        xs.status_text(program.proc.returncode), program.stderr()[-1500:]))
    program.proc.send_signal(signal.SIGTERM)
    status = program.wait()
    if status is None:
        program.kill()
    err = program.stderr()
    xs.check(status == 0, "quit request gave %s; %s" % (xs.status_text(status), err[-1500:]))
    xs.check(not xs.crash_lines(err), "crash report: %s" % xs.crash_lines(err)[:3])
    xs.check("vesk:" not in err, "printed an error: %s" % err[-500:])
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vesk", required=True)
    parser.add_argument("--wm-close", required=True)
    args = parser.parse_args()
    results = []
    for runtime in xs.RUNTIMES:
        xs.run_case(results, "no_display[%s]" % runtime, no_display, args, runtime)
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
