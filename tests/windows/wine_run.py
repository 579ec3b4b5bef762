#!/usr/bin/env python3
"""wine_run.py PROGRAM.exe [ARGS...]: a Windows program under Wine in a private Xvfb.

The Windows build's tests run through it (CMAKE_CROSSCOMPILING_EMULATOR), and
so does `make bench-windows`. WINEPREFIX must name the prefix to use (made
first when missing, about 10 s). The program's output passes straight through
and its exit status is ours; the prefix's Wine processes and the Xvfb (the X
harness's, tests/xharness.py) end with it.
"""
import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import xharness as xs  # noqa: E402

# The screen: room for the port tests' window at twice its size and more.
SCREEN = (1920, 1200)
# A shell's status for a program killed by a signal: this plus the signal's number.
SIGNAL_STATUS = 128


def main():
    if len(sys.argv) < 2 or not os.environ.get("WINEPREFIX"):
        print("usage: WINEPREFIX=DIR wine_run.py PROGRAM.exe [ARGS...]", file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    server = env = None
    try:
        server = xs.start_xvfb(size=SCREEN)
        env = {**xs.WINE_ENVIRONMENT, **os.environ, "DISPLAY": server.display}
        xs.wine_prefix(env)
        status = subprocess.run(["wine"] + sys.argv[1:], env=env).returncode
        return status if status >= 0 else SIGNAL_STATUS - status
    except xs.Failure as failure:
        print("wine_run.py: %s" % failure, file=sys.stderr)
        return 1
    finally:
        if env:
            xs.run(["wineserver", "--kill"], env, check_status=False)
        if server:
            xs.stop(server.proc)


if __name__ == "__main__":
    sys.exit(main())
