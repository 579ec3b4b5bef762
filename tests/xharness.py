#!/usr/bin/env python3
"""xharness: the one X harness of every test that runs the real program.

   xharness.py serve --vesk PATH                 the browser test's desktop side
   xharness.py launch --vesk PATH --wm-close PATH [--wm-class CLASS]
                                                 the installed program (make test-package)
   xharness.py xvfb [--screen WxHxD]             a private X server (WebKit's browser)
   xharness.py peak-rss --vesk PATH --wm-close PATH   peak resident memory (make bench)
   xharness.py scale-pace --vesk PATH --bench PATH --today PATH [--rounds N]
                                                   the frame pace at each scale on each
                                                   runtime, and today's (make bench)
   xharness.py with-runtime RUNTIME [--root ROOT] PROGRAM [ARG...]
                                                 a program of the unit tests or fuzz
                                                 targets on a Linux runtime

`serve` starts the program on the system runtime, prints `window ID`, then
answers each command line read from stdin with one line: `picture` with the
window's RGB bytes in base64 (each pixel its class's exact colour), `still`
with those of the window once it has stopped changing, `move X Y` with `ok`,
a failure with `error: ...`. At the end of stdin it ends the program and
Xvfb. `launch` runs the program as a desktop launcher does: its window shows
(carrying WM_CLASS CLASS when given) and the window manager's close request
ends it with status 0; it prints a line a check and `N passed, N failed`.
`xvfb` prints `display :N` and keeps the server until the end of stdin.

Conventions:
  - Python 3 standard library only; plain functions over plain records
    (types.SimpleNamespace); the one class is the Failure exception.
  - X: a private Xvfb per run, -displayfd (it picks a free display), -nolisten
    tcp and -noreset (without it the server resets when its last client leaves,
    refuses whoever connects meanwhile and puts the pointer back in the middle).
    Input is real X input from xdotool; the window manager's close request is
    wm_close's WM_DELETE_WINDOW client message.
  - Runtimes, chosen here only (sdl_runtime is the policy): system (the
    libSDL-1.2.so.0 the loader finds, whichever SDL 1.2 the system ships),
    private (sdl12-compat in its private folder beside it, through
    LD_LIBRARY_PATH) and wine (vesk.exe under Wine, WINEDEBUG=-all, with the
    Windows build's private prefix: WINEPREFIX is the folder wineprefix beside
    vesk.exe, as for the Windows build's own tests). A test of a runtime that
    does not apply here prints `skipped: why` and exits SKIP_STATUS.
  - Another processor's Linux program (the arm64 build) runs under qemu-user in
    a Debian root of its architecture (--root, made by scripts/debian_root.sh
    extract): the root's libraries are its system, the runtime policy applies
    to the root's SDL 1.2, and the process the harness watches is qemu's. No
    binfmt is needed: qemu is called by name (EMULATORS).
  - Coordinates are window pixels, x rightward and y downward from the
    window's top-left corner.
  - A screenshot reads the ROOT window with ImageMagick at 8 bits a channel
    and crops it to the window (reading the window itself gives wrong colours
    on a DirectColor visual). Every pixel must be black, green or white: each
    channel full (>= FULL_MIN) or off (<= OFF_MAX), since a 16-bit surface or
    screen may turn a full channel into 248..254. Any other colour fails.
  - Every wait is bounded in time and every command has a timeout. Processes
    are ended by their own pids. Programs run with core dumps off; a crash
    report on standard error fails.
  - A failed check raises Failure saying what was expected and what was seen;
    fail_with saves the screenshot concerned as a PNG in the artifacts folder.
  - One result format: run_case prints `PASS name (t s): what was seen` or
    `FAIL name (t s): why` for each case, report then `N passed, N failed`.
"""
import argparse
import base64
import filecmp
import functools
import os
import random
import re
import resource
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import types
import zlib

WINDOW_WIDTH = 200
WINDOW_HEIGHT = 300
WINDOW_NAME = "Vesk"
# Xvfb's screen, in pixels, and its depth unless a test asks for another.
SCREEN_WIDTH = 640
SCREEN_HEIGHT = 480
SCREEN_DEPTH = 24
# A screen pixel off the window wherever the tests put it.
PARKED = (SCREEN_WIDTH - 10, SCREEN_HEIGHT - 10)

# The Linux program's SDL 1.2 runtimes (sdl_runtime says what each is here).
LINUX_RUNTIMES = ("system", "private")
RUNTIMES = LINUX_RUNTIMES + ("wine",)
SDL_LIBRARY = "libSDL-1.2.so.0"
PRIVATE_FOLDER = "sdl12-compat"      # beside the system's library (Debian's libsdl1.2-compat)
SDL2_BACKED_MARK = b"SDL12COMPAT_"   # in sdl12-compat's library alone: its own variables
# Programs of another processor, by their ELF machine number: the qemu-user
# emulator that runs them and the multiarch folder of their libraries in a root.
EMULATORS = {183: ("qemu-aarch64", "aarch64-linux-gnu")}  # EM_AARCH64
ELF_MACHINE_OFFSET = 18  # a little-endian 16-bit field of the ELF header
# The exit status of a test that does not apply here (CTest's SKIP_RETURN_CODE).
SKIP_STATUS = 77
# glibc's MALLOC_PERTURB_: fresh allocations filled with this value's complement.
MALLOC_PERTURB = "65"
WINE_PREFIX = "wineprefix"  # folder beside vesk.exe
# Wine asks to install Mono and Gecko into a new prefix unless told not to.
WINE_ENVIRONMENT = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
# Variables never inherited, so that every run sees the program's own defaults.
NOT_INHERITED = ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "SDL_AUDIODRIVER",
                 "SDL_RENDER_DRIVER", "SDL_FRAMEBUFFER_ACCELERATION", "SDL_VIDEO_WINDOW_POS",
                 "SDL_VIDEO_CENTERED", "GDK_SCALE", "LD_LIBRARY_PATH", "WINEPREFIX", "WINEDEBUG",
                 "WINEDLLOVERRIDES")

# Pixel classes, by channels full (8-bit values >= FULL_MIN) or off (<= OFF_MAX).
BLACK, GREEN, WHITE, OTHER = 0, 1, 2, 3
FULL_MIN = 240
OFF_MAX = 15
COLOURS = {BLACK: b"\0\0\0", GREEN: b"\0\xff\0", WHITE: b"\xff\xff\xff"}

# Time limits, in seconds.
XVFB_START_S = 15
XVFB_TRIES = 3               # fresh servers tried before giving up
WINDOW_WAIT_S = 30
EXIT_WAIT_S = 20
COMMAND_S = 20
WINE_PREFIX_S = 180          # a new prefix takes about 10 s
WINE_PREFIX_MB = 720         # Wine copies its DLLs into each prefix: 695 MB, with room to run
SETTLE_S = 20
CROSS_WAIT_S = 5
FIRST_FRAME_S = 10
# Pauses, in seconds.
POLL_S = 0.1
STABLE_INTERVAL_S = 0.5      # between the two screenshots that must agree when settled
PEAK_RSS_RUN_S = 3

# The crosshair: an X about 20 px wide and 30 px tall centred on the pointer,
# its arms along slopes of +-1.5 (rows per column).
CROSS_WIDTH = 20
CROSS_HEIGHT = 30
CROSS_SIZE_SLACK = 3         # px either way on width and height
CROSS_CENTRE_SLACK = 2       # px between the X's centre and the pointer
CROSS_ARM_SLOPE = 1.5
CROSS_ARM_SLACK = 2.5        # px between a white pixel and the nearer arm
CROSS_ARM_PIXELS_MIN = 5     # white pixels in each of the four arms
CROSS_PIXELS_MAX = 200       # an X, not a filled box

# The settled pile. About 57,400 grains fill the 200 x 300 window of 60,000
# pixels; two grid columns (and two grid rows) share a pixel and the last
# pixel column shows no grid column, so the fresh settled pile covers a little
# less (0.95). Its outermost grain columns (pixel columns 0 and 198) obey no slope.
DRAWN_COLUMNS = WINDOW_WIDTH - 1   # the last pixel column stays black
PILE_GREEN_MIN = 0.93          # of the window's area, fresh
PILE_GREEN_MAX = 0.96
TOP_ROWS = 8                   # rows at the top that the fresh settled pile leaves empty
TOP_GREEN_MAX = 0.02           # of those rows' area
BOTTOM_ROWS = 150              # rows at the bottom that it fills
BOTTOM_GREEN_MIN = 0.995       # of those rows' area, last column and crosshair excepted
PILE_SPREAD_MAX = 30           # rows between its highest and lowest inner column
# Rows between neighbouring inner pixel columns of any settled pile: one grain
# row, plus rounding of the grid onto pixels.
PILE_STEP_MAX = 2
# Where the pointer rests while settled piles are compared, window pixels.
PILE_REST = (100, 20)

# Seeded X input (input_script). The program ignores keys: under Wine alt+F4
# is the window manager's close request (WINDOWS_CLOSE_KEYS).
INPUT_SEED = 20240611
KEYS = ("a", "z", "q", "space", "Return", "Escape", "Tab", "shift+Tab", "BackSpace", "Delete",
        "Left", "Up", "Down", "F1", "F10", "Menu", "super", "shift+q", "ctrl+c",
        "ctrl+alt+Delete", "alt+F4")
WINDOWS_CLOSE_KEYS = ("alt+F4",)
BUTTONS = tuple(range(1, 10))  # 1 to 3, the wheel (4, 5), the side wheel (6, 7), 8 and 9
WHEEL_BUTTONS = (4, 5, 6, 7)
DRAG_BUTTONS = (1, 1, 2, 3)    # drawn at random: the left one half the time
CLICK_DELAY_MS = 1             # xdotool's pause in a click or key stroke (its own is 12)
FOCUS_SHARE = 0.2              # of random keys, sent after focusing the window
DRAG_MOVES = (20, 60)          # pointer moves of a random drag, at least and at most
DRAG_OUTSIDE = 0.1             # share of them off the window
WHEEL_BURST = (5, 15)          # wheel steps in a burst
MAX_COVERS = 3                 # other windows over the program's at once
COVER_SIZE = (60, 300)         # px, either side
STORM_PAUSES_S = (0.01, 0.02, 0.03, 0.04, 0.05)
BATCH_WORDS = 80               # xdotool words sent at once by the storm
BATCH_PAUSE_S = 0.02           # after each batch
HOME = (50, 50)                # screen pixels where input_home puts the window
# The tour, in window pixels: moves to TOUR_SPOTS, the window's corners and
# edges, then off the window and back; drags with each of TOUR_DRAG_BUTTONS
# across the window in TOUR_DRAG_STEPS steps, off it (None) and back; a press
# held at the last spot while the wheel turns.
TOUR_SPOTS = ((10, 10), (190, 290), (0, 0), (199, 299), (100, 5), (5, 150), (100, 100))
TOUR_DRAG_BUTTONS = (1, 3, 2)
TOUR_DRAG_FROM, TOUR_DRAG_STEP, TOUR_DRAG_STEPS = (30, 40), (14, 22), 10
TOUR_DRAG_TAIL = (None, (100, 200), None)
TOUR_UNMAPPED_S = "0.2"        # the window stays unmapped this long
TOUR_STEP_S = "0.03"           # pause after each action of the tour

# Lines on standard error that mean the program crashed or broke its memory.
CRASH_MARKERS = ("AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer",
                 "runtime error:", "Fatal signal", "Parachute", "Segmentation fault",
                 "core dumped")
ERROR_PREFIX = "vesk: "


class Failure(Exception):
    """A check did not hold."""


def check(condition, message):
    if not condition:
        raise Failure(message)


# ---------------------------------------------------------------- processes

def run(argv, env=None, timeout=COMMAND_S, check_status=True):
    """Runs a command to its end; returns its stdout as text."""
    try:
        done = subprocess.run([str(a) for a in argv], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace", timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure("%s did not finish within %s s" % (" ".join(map(str, argv)), timeout))
    check(not check_status or done.returncode == 0, "%s failed (%s): %s" % (
        argv[0], status_text(done.returncode), done.stderr.strip()))
    return done.stdout


def stop(proc, sig=signal.SIGTERM):
    """Ends a process we started, by its pid, and reaps it."""
    if proc is None:
        return
    if proc.poll() is None:
        proc.send_signal(sig)
    try:
        proc.wait(timeout=EXIT_WAIT_S)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=EXIT_WAIT_S)


def status_text(status):
    """A process status as Popen gives it, in words."""
    if status is None:
        return "still running"
    if status < 0:
        try:
            return "killed by signal %s" % signal.Signals(-status).name
        except ValueError:
            return "killed by signal %d" % -status
    return "exit status %d" % status


def crash_lines(text):
    return [line for line in text.splitlines() if any(m in line for m in CRASH_MARKERS)]


# ---------------------------------------------------------------- the X server

def read_display(read_end):
    """Reads Xvfb's -displayfd answer from read_end (and closes it): ':N', or None."""
    text = b""
    deadline = time.monotonic() + XVFB_START_S
    try:
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            if select.select([read_end], [], [], POLL_S)[0]:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                text += chunk
    finally:
        os.close(read_end)
    return ":" + text.strip().decode() if text.strip().isdigit() else None


def start_xvfb(depth=SCREEN_DEPTH, size=(SCREEN_WIDTH, SCREEN_HEIGHT)):
    """A private Xvfb that answers with the screen asked for: a record with proc and display."""
    want = ("dimensions:    %dx%d pixels" % size, "depth of root window:    %d planes" % depth)
    said = ""
    for _ in range(XVFB_TRIES):
        read_end, write_end = os.pipe()
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset", "-screen", "0",
             "%dx%dx%d" % (size + (depth,))],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        server = types.SimpleNamespace(proc=proc, display=read_display(read_end))
        if server.display:
            said = run(["xdpyinfo"], environment(display=server.display), check_status=False)
            if all(w in said for w in want):
                return server
        stop(proc)
    raise Failure("Xvfb: expected a %dx%d screen of depth %d within %d tries; xdpyinfo said %r"
                  % (size + (depth, XVFB_TRIES, said[:300])))


def desktop_dpi(server, dpi):
    """Publishes Xft.dpi in the server's resource database as desktops do (None: no database)."""
    env = environment(display=server.display)
    if dpi is None:
        return run(["xrdb", "-remove"], env)
    done = subprocess.run(["xrdb", "-nocpp", "-merge"], input="Xft.dpi: %d\n" % dpi, env=env,
                          capture_output=True, text=True, timeout=COMMAND_S)
    check(done.returncode == 0, "xrdb failed: %s" % done.stderr.strip())


# ---------------------------------------------------------------- runtimes and programs

@functools.lru_cache(maxsize=None)
def sdl_runtime(name, program, libdir=None):
    """The runtime policy, in one place: what SDL 1.2 runtime `name` is for `program`.

      system   the libSDL-1.2.so.0 the loader finds: the classic SDL 1.2 (Debian 12) or
               the SDL2-backed sdl12-compat (Debian 13, Ubuntu, Fedora, Arch)
      private  sdl12-compat in its private folder beside it, chosen through
               LD_LIBRARY_PATH (Debian's libsdl1.2-compat)
    A runtime is tested wherever its library is, unless it is the same library as
    the system's (Debian 13's private folder): then, as when it is absent, its tests
    are skipped, saying why. libdir: the folder of the system's library (by default
    where the loader finds it for program; another system's root, say).

    Returns a record: name; library (its real path, or None); sdl2 (whether it is
    the SDL2-backed one); folder (for LD_LIBRARY_PATH, or None: the loader's
    choice); skip (why it is not tested here, or None)."""
    rt = types.SimpleNamespace(name=name, library=None, sdl2=False, folder=None, skip=None)
    if libdir is None:
        found = re.search(r"^\s*%s => (/\S+)" % re.escape(SDL_LIBRARY), run(
            ["ldd", program], environment(), check_status=False), re.M)
        libdir = found and os.path.dirname(found.group(1))
    system = libdir and os.path.join(libdir, SDL_LIBRARY)
    if not system or not os.path.exists(system):
        rt.skip = "no SDL 1.2 runtime: the loader finds no %s for %s" % (SDL_LIBRARY, program)
        return rt
    if name == "system":
        rt.library = os.path.realpath(system)
    else:
        rt.folder = os.path.join(libdir, PRIVATE_FOLDER)
        private = os.path.join(rt.folder, SDL_LIBRARY)
        if not os.path.exists(private):
            rt.skip = ("no SDL 1.2 in the private folder %s (Debian's libsdl1.2-compat puts "
                       "sdl12-compat there; other systems have none)" % rt.folder)
            return rt
        rt.library = os.path.realpath(private)
        if rt.library == os.path.realpath(system) or filecmp.cmp(rt.library, system, False):
            rt.skip = ("its %s is the system's own (%s), tested as the system runtime"
                       % (SDL_LIBRARY, os.path.realpath(system)))
    with open(rt.library, "rb") as f:
        rt.sdl2 = SDL2_BACKED_MARK in f.read()
    return rt


def emulator(program):
    """(qemu-user emulator, multiarch folder) for another processor's program."""
    with open(program, "rb") as f:
        machine = struct.unpack_from("<H", f.read(ELF_MACHINE_OFFSET + 2), ELF_MACHINE_OFFSET)[0]
    check(machine in EMULATORS, "%s: no emulator for ELF machine %d" % (program, machine))
    return EMULATORS[machine]


def root_runtime(name, program, root):
    """sdl_runtime for a program on this machine, or in another processor's root."""
    return sdl_runtime(name, program, root and os.path.join(root, "usr/lib", emulator(program)[1]))


def emulated(program, root, sdl):
    """The command that runs another processor's program in root under qemu-user, on
    runtime record sdl (its folder goes in the program's LD_LIBRARY_PATH, not qemu's)."""
    folder = ["-E", "LD_LIBRARY_PATH=%s" % sdl.folder] if sdl and sdl.folder else []
    return [emulator(program)[0], "-L", root] + folder + [os.path.abspath(program)]


def runtime_or_skip(name, program, root=None):
    """The runtime record of a test of one Linux runtime; where it is not tested here,
    says why and ends the test as skipped."""
    rt = root_runtime(name, program, root)
    if rt.skip:
        print("skipped: %s runtime: %s" % (name, rt.skip), flush=True)
        sys.exit(SKIP_STATUS)
    return rt


def environment(runtime=None, display=None, extra=None):
    """The caller's environment with nothing steering SDL elsewhere, for a runtime
    record (sdl_runtime: its folder goes in LD_LIBRARY_PATH), if given."""
    env = {k: v for k, v in os.environ.items() if k not in NOT_INHERITED}
    if display:
        env["DISPLAY"] = display
    if getattr(runtime, "folder", None):
        env["LD_LIBRARY_PATH"] = runtime.folder
    env.update(extra or {})
    return env


def wine_prefix(env):
    """Creates the Wine prefix named in env unless it is there, before any timed wait."""
    if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
        # Out of space, Wine only says it "could not load kernel32.dll".
        place = os.path.dirname(os.path.abspath(env["WINEPREFIX"]))
        free = shutil.disk_usage(place).free // 2**20
        check(free >= WINE_PREFIX_MB, "a new Wine prefix needs about %d MB; %s has %d MB free"
              % (WINE_PREFIX_MB, place, free))
        run(["wine", "wineboot", "--init"], env, WINE_PREFIX_S)
        run(["wineserver", "--wait"], env, WINE_PREFIX_S)


def start(args, runtime, display=None, extra=None, limits=None, wrapper=(), name=None,
          native=False):
    """Starts the program for a runtime (args.exe under Wine, else args.vesk, in
    args.root under qemu-user when given; native: args.native, this machine's).

    Returns the run record: proc, pid, runtime, display, env, its output files,
    and what the checks need (wm_close, artifacts, name, window once found).
    limits: {resource.RLIMIT_...: value} set in the child before exec. Under Wine,
    extra may name another WINEPREFIX (an installed copy's, say)."""
    program = args.native if native else args.vesk
    root = None if native else getattr(args, "root", None)
    argv = list(wrapper) + [os.path.abspath(program)]
    sdl = None
    if runtime in LINUX_RUNTIMES:
        sdl = root_runtime(runtime, program, root)
        check(not sdl.skip, "the %s runtime: %s" % (runtime, sdl.skip))
    if root:
        argv = list(wrapper) + emulated(program, root, sdl)
    env = environment(None if root else sdl, display, extra)
    if runtime == "wine":
        check(os.path.exists(args.exe or ""), "no Windows program %r: build it with make "
              "windows" % args.exe)
        argv = ["wine", os.path.abspath(args.exe)]
        env.update(WINE_ENVIRONMENT)
        env.setdefault("WINEPREFIX", os.path.join(os.path.dirname(argv[1]), WINE_PREFIX))
        wine_prefix(env)
    else:
        # glibc fills the program's fresh allocations with a byte, so that a picture
        # built on uninitialised memory shows as stray colours rather than as black.
        env.setdefault("MALLOC_PERTURB_", MALLOC_PERTURB)
    all_limits = {resource.RLIMIT_CORE: 0, **(limits or {})}

    def set_limits():
        for which, value in all_limits.items():
            resource.setrlimit(which, (value, value))

    out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
    proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                            preexec_fn=set_limits)
    return types.SimpleNamespace(
        proc=proc, pid=proc.pid, runtime=runtime, sdl=sdl, display=display, env=env, out=out,
        err=err,
        wm_close=getattr(args, "wm_close", None), artifacts=getattr(args, "artifacts", "."),
        window=None, name=name or runtime)


def output(p, stream="err"):
    f = getattr(p, stream)
    f.seek(0)
    return f.read().decode(errors="replace")


def alive(p):
    return p.proc.poll() is None


def wait(p, seconds=EXIT_WAIT_S):
    """The exit status, or None if it is still running after `seconds`."""
    try:
        return p.proc.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        return None


def kill(p):
    """Ends the program (under Wine: every process of its prefix)."""
    stop(p.proc, signal.SIGKILL)
    if p.runtime == "wine":
        run(["wineserver", "--kill"], p.env, check_status=False)


def expect_alive(p):
    check(alive(p), "the program ended early (%s); its stderr ends with:\n%s"
          % (status_text(p.proc.returncode), output(p)[-2000:]))


def proc_status(pid, field):
    """A field of /proc/PID/status in KiB (VmRSS, VmSize), or None once the process is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


def loaded_runtime(p):
    """Checks that the program loaded its runtime's library and no other SDL (libSDL2 with
    the SDL2-backed one); returns what it loaded."""
    with open("/proc/%d/maps" % p.pid) as maps:
        libs = sorted({os.path.realpath(line.split()[5]) for line in maps
                       if len(line.split()) >= 6 and re.search(r"/libSDL|\.exe$", line)})
    sdl12 = [lib for lib in libs if "libSDL-1.2" in lib]
    sdl2 = [lib for lib in libs if "libSDL2" in lib]
    if p.sdl is None:
        ok, want = not sdl12 and not sdl2, "no libSDL"
    else:
        ok = sdl12 == [p.sdl.library] and bool(sdl2) == p.sdl.sdl2
        want = "%s%s" % (p.sdl.library, " and libSDL2" if p.sdl.sdl2 else ", no libSDL2")
    check(ok, "runtime: expected the program to load %s; it loaded %s" % (want, libs))
    return "loaded %s" % ", ".join(libs)


def expect_failure(p, allowed, status=None, seconds=EXIT_WAIT_S):
    """Waits for a failing run to end by itself: a failure status (`status` if given), no
    crash report, nothing on stdout, and a line of stderr containing one of `allowed`
    (with status given: exactly one line starting with "vesk: "). Returns those lines."""
    ended = wait(p, seconds)
    if ended is None:
        kill(p)
        raise Failure("expected the program to give up; still running after %d s" % seconds)
    err, out = output(p), output(p, "out")
    lines = [line for line in err.splitlines() if any(a in line for a in allowed)]
    ours = [line for line in err.splitlines() if line.startswith(ERROR_PREFIX)]
    check(ended > 0 and (status is None or (ended == status and len(ours) == 1)) and lines
          and not out and not crash_lines(err),
          "expected %s, a line with %s on stderr, nothing on stdout and no crash report; got "
          "%s, stdout %r, stderr %r" % (status_text(status) if status else "a failure status",
                                        " or ".join(map(repr, allowed)), status_text(ended),
                                        out[:200], err[-1500:]))
    return lines


# ---------------------------------------------------------------- X input

def xdo(p, *args, timeout=COMMAND_S):
    """Runs one xdotool command chain on p's display; returns its output."""
    return run(["xdotool"] + list(args), environment(display=p.display), timeout)


def find_window(p, seconds=WINDOW_WAIT_S, size=(WINDOW_WIDTH, WINDOW_HEIGHT)):
    """Waits for the one visible window named Vesk, of `size`; records it in p.window."""
    deadline = time.monotonic() + seconds
    ids = []
    while not ids and time.monotonic() < deadline:
        expect_alive(p)
        ids = run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % WINDOW_NAME],
                  environment(display=p.display), check_status=False).split()
        time.sleep(0 if ids else POLL_S)
    if len(ids) != 1:
        tree = run(["xwininfo", "-root", "-children"], environment(display=p.display),
                   check_status=False)
        raise Failure("window: expected one visible window named %r within %d s; found %d. "
                      "The top-level windows:\n%s\nThe program's stderr ends with:\n%s"
                      % (WINDOW_NAME, seconds, len(ids), tree, output(p)[-2000:]))
    p.window = ids[0]
    name = xdo(p, "getwindowname", p.window).rstrip("\n")
    x, y, width, height = geometry(p)
    check(name == WINDOW_NAME and (width, height) == tuple(size),
          "window: expected %r of %dx%d; got %r of %dx%d" % ((WINDOW_NAME,) + tuple(size) +
                                                           (name, width, height)))
    # Until its first present a window may show whatever the server or the
    # runtime left in it; from then on every screenshot is checked strictly.
    deadline = time.monotonic() + seconds
    while OTHER in screenshot(p, strict=False).cls and time.monotonic() < deadline:
        expect_alive(p)
        time.sleep(POLL_S)
    return "window %s %r %dx%d at (%d, %d)" % (p.window, name, width, height, x, y)


def geometry(p):
    """(x, y, width, height) of p's window on the screen."""
    values = dict(re.findall(r"^(\w+)=(-?\d+)$", xdo(p, "getwindowgeometry", "--shell",
                                                      p.window), re.M))
    return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def pointer(p, x, y):
    xdo(p, "mousemove", "--window", p.window, x, y)


def close_window(p):
    """Sends the window manager's close request (WM_DELETE_WINDOW)."""
    run([p.wm_close, p.window], environment(display=p.display))


def close(p, seconds=EXIT_WAIT_S, request=close_window, what="WM_DELETE_WINDOW"):
    """A close request (by default the window manager's) must end the program with status
    0, no error and no crash report."""
    request(p)
    status = wait(p, seconds)
    err = output(p)
    check(status == 0 and ERROR_PREFIX not in err and not crash_lines(err),
          "close: expected status 0 without an error within %d s of %s; got %s; "
          "stderr ends with:\n%s" % (seconds, what, status_text(status), err[-3000:]))
    return "ended with status 0"


# ---------------------------------------------------------------- screenshots

def parse_ppm(blob):
    """(width, height, RGB bytes) of a binary PPM (P6, maxval 255)."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while blob[pos:pos + 1].isspace():
            pos += 1
        if blob[pos:pos + 1] == b"#":
            pos = blob.index(b"\n", pos) + 1
            continue
        start = pos
        while pos < len(blob) and not blob[pos:pos + 1].isspace():
            pos += 1
        fields.append(blob[start:pos])
    width, height = int(fields[1]), int(fields[2])
    data = blob[pos + 1:pos + 1 + 3 * width * height]
    check(fields[0] == b"P6" and fields[3] == b"255" and len(data) == 3 * width * height,
          "screenshot: expected a whole 8-bit PPM from ImageMagick; got %r" % fields)
    return width, height, data


def screenshot(p, strict=True):
    """p's window as the screen shows it: a record with w, h, rgb (row-major) and cls.
    Strict, it fails on any colour but black, green and white."""
    x, y, w, h = geometry(p)
    blob = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                          env=environment(display=p.display), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=COMMAND_S)
    check(blob.returncode == 0, "screenshot: import failed: %s" % blob.stderr[-500:])
    width, height, pixels = parse_ppm(blob.stdout)
    check(x >= 0 and y >= 0 and x + w <= width and y + h <= height,
          "screenshot: the window at (%d, %d) is not wholly on the screen" % (x, y))
    rgb = b"".join(pixels[3 * ((y + row) * width + x):3 * ((y + row) * width + x + w)]
                   for row in range(h))
    cls = bytes(classify(rgb[i:i + 3]) for i in range(0, len(rgb), 3))
    shot = types.SimpleNamespace(w=w, h=h, rgb=rgb, cls=cls)
    if strict and OTHER in cls:
        i = cls.index(OTHER)
        fail_with(p, "colours", shot, "expected only black, green and white pixels; "
                  "%d others, the first at (%d, %d) is %s" % (cls.count(OTHER), i % w, i // w,
                                                              tuple(rgb[3 * i:3 * i + 3])))
    return shot


def exact_colours(shot):
    """The screenshot's RGB bytes with each pixel its class's exact colour (a 16-bit
    surface or screen shows full green as 248..254, some runtimes too)."""
    return b"".join(COLOURS[c] for c in shot.cls)


@functools.lru_cache(maxsize=None)
def classify(rgb):
    """The class of a pixel's 8-bit (r, g, b)."""
    levels = tuple(1 if c >= FULL_MIN else 0 if c <= OFF_MAX else None for c in rgb)
    return {(0, 0, 0): BLACK, (0, 1, 0): GREEN, (1, 1, 1): WHITE}.get(levels, OTHER)


def count(shot, cls, x0=0, y0=0, x1=WINDOW_WIDTH, y1=WINDOW_HEIGHT):
    """Pixels of class cls in columns x0..x1-1 and rows y0..y1-1 (clipped)."""
    x0, x1, y0, y1 = max(x0, 0), min(x1, shot.w), max(y0, 0), min(y1, shot.h)
    if x0 >= x1:
        return 0
    return sum(shot.cls[y * shot.w + x0:y * shot.w + x1].count(cls) for y in range(y0, y1))


def save_png(p, what, shot):
    """Writes the screenshot as an RGB PNG in the artifacts folder; returns its path."""
    path = os.path.join(p.artifacts, "%s_%s.png" % (p.name, what))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    rows = b"".join(b"\0" + shot.rgb[y * shot.w * 3:(y + 1) * shot.w * 3] for y in range(shot.h))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", shot.w, shot.h, 8,
                                                                    2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    return path


def fail_with(p, what, shot, message):
    raise Failure("%s: %s; see %s" % (what, message, save_png(p, what, shot)))


def wait_settled(p, what, seconds=SETTLE_S):
    """Screenshots until two in a row, STABLE_INTERVAL_S apart, are the same; returns it."""
    deadline = time.monotonic() + seconds
    last = screenshot(p)
    while time.monotonic() < deadline:
        time.sleep(STABLE_INTERVAL_S)
        expect_alive(p)
        shot = screenshot(p)
        if shot.cls == last.cls:
            return shot
        last = shot
    fail_with(p, what, last, "expected the pile to stop moving within %d s" % seconds)


def describe_cross(shot, x, y):
    """Measures the white pixels against an X centred at (x, y); returns (problem, text)."""
    white = [(i % shot.w, i // shot.w) for i, c in enumerate(shot.cls) if c == WHITE]
    if not white:
        return "no white pixels", "no white pixels"
    xs = [w[0] for w in white]
    ys = [w[1] for w in white]
    width, height = max(xs) - min(xs) + 1, max(ys) - min(ys) + 1
    centre_x, centre_y = (max(xs) + min(xs)) / 2, (max(ys) + min(ys)) / 2
    off_arm = 0
    arms = [0, 0, 0, 0]  # up-left, up-right, down-left, down-right
    for px, py in white:
        dx, dy = px - x, py - y
        if min(abs(dy - CROSS_ARM_SLOPE * dx), abs(dy + CROSS_ARM_SLOPE * dx)) > \
                CROSS_ARM_SLACK * CROSS_ARM_SLOPE:
            off_arm += 1
        arms[(dy > 0) * 2 + (dx > 0)] += 1
    text = ("%d white px spanning %dx%d centred at (%.1f, %.1f), arms %s, %d off the arms"
            % (len(white), width, height, centre_x, centre_y, arms, off_arm))
    problem = None
    if abs(width - CROSS_WIDTH) > CROSS_SIZE_SLACK or \
            abs(height - CROSS_HEIGHT) > CROSS_SIZE_SLACK:
        problem = "size"
    elif abs(centre_x - x) > CROSS_CENTRE_SLACK or abs(centre_y - y) > CROSS_CENTRE_SLACK:
        problem = "position"
    elif off_arm or min(arms) < CROSS_ARM_PIXELS_MIN or len(white) > CROSS_PIXELS_MAX:
        problem = "shape"
    return problem, text


def wait_shot(p, what, seconds, judge):
    """Screenshots until judge(shot) names no problem and returns that screenshot; after
    `seconds` fails with the last problem judge named."""
    deadline = time.monotonic() + seconds
    while True:
        expect_alive(p)
        shot = screenshot(p)
        problem = judge(shot)
        if not problem:
            return shot
        if time.monotonic() >= deadline:
            fail_with(p, what, shot, "%s within %g s" % (problem, seconds))
        time.sleep(POLL_S)


def unscale(p, shot, scale, left=0, top=0, what="scaled"):
    """The surface a window shows scaled: each surface pixel the `scale` square at (left, top)
    plus `scale` times its position. Fails unless every square is one colour and every pixel
    around the picture black; returns the surface as a WINDOW_WIDTH x WINDOW_HEIGHT record."""
    width = WINDOW_WIDTH * scale
    rows, mixed = [], 0
    for y in range(WINDOW_HEIGHT):
        block = [shot.rgb[3 * ((top + y * scale + i) * shot.w + left):
                          3 * ((top + y * scale + i) * shot.w + left + width)] for i in range(scale)]
        row = b"".join(block[0][3 * x * scale:3 * x * scale + 3] for x in range(WINDOW_WIDTH))
        wide = b"".join(row[3 * x:3 * x + 3] * scale for x in range(WINDOW_WIDTH))
        mixed += sum(line != wide for line in block)
        rows.append(row)
    rgb = b"".join(rows)
    surface = types.SimpleNamespace(w=WINDOW_WIDTH, h=WINDOW_HEIGHT, rgb=rgb, cls=bytes(
        classify(rgb[i:i + 3]) for i in range(0, len(rgb), 3)))
    height = WINDOW_HEIGHT * scale
    around = shot.w * shot.h - count(shot, BLACK, 0, 0, shot.w, shot.h) - (
        width * height - count(shot, BLACK, left, top, left + width, top + height))
    if mixed or around:
        fail_with(p, what, shot, "expected each surface pixel as one %dx%d square from (%d, %d) "
                  "and black around; %d window rows differ from their square's first, %d pixels "
                  "around are not black" % (scale, scale, left, top, mixed, around))
    return surface


def cross_follows(p, x, y, what="crosshair", seconds=CROSS_WAIT_S):
    """Moves the pointer to (x, y) and waits until the white X stands there; returns
    (screenshot, description)."""
    def judge(shot):
        problem, text = describe_cross(shot, x, y)
        return problem and ("expected a white X of about %dx%d px centred at the pointer "
                            "(%d, %d); wrong %s: %s" % (CROSS_WIDTH, CROSS_HEIGHT, x, y,
                                                         problem, text))
    pointer(p, x, y)
    shot = wait_shot(p, what, seconds, judge)
    return shot, describe_cross(shot, x, y)[1]


# ---------------------------------------------------------------- seeded X input

def input_script(p, seed=INPUT_SEED, covers=False):
    """The X input builder: a record over p's window and a generator seeded with `seed`,
    collecting xdotool words in `chain` (sent by input_send) and counting the input
    actions, by kind, in `counts`; with covers, the storm puts other windows over the
    program's (xmessage). input_tour adds every kind of input once, input_storm draws
    them at random, input_home puts things back."""
    return types.SimpleNamespace(p=p, window=p.window, rng=random.Random(seed), chain=[],
                                 counts={}, held=None, mapped=True, pause=None,
                                 covers=[] if covers else None)


def input_add(s, kind, *words):
    s.chain.extend(str(w) for w in words)
    if s.pause:
        s.chain.extend(("sleep", s.pause))
    s.counts[kind] = s.counts.get(kind, 0) + 1


def input_actions(s):
    return sum(s.counts.values())


def input_send(s):
    if s.chain:
        xdo(s.p, *s.chain)
        s.chain = []


def input_move(s, x=None, y=None, outside=False):
    """Moves the pointer to window pixel (x, y), a random one if not given; outside, to
    a random screen pixel (mostly off the window wherever it is)."""
    if outside:
        input_add(s, "move", "mousemove", s.rng.randrange(SCREEN_WIDTH),
                  s.rng.randrange(SCREEN_HEIGHT))
    else:
        input_add(s, "move", "mousemove", "--window", s.window,
                  s.rng.randrange(WINDOW_WIDTH) if x is None else x,
                  s.rng.randrange(WINDOW_HEIGHT) if y is None else y)


def input_click(s, button=None):
    input_add(s, "click", "click", "--delay", CLICK_DELAY_MS, button or s.rng.choice(BUTTONS))


def input_press(s, button=None):
    """Presses a button (a random one if not given), or releases the one held."""
    if s.held is None:
        s.held = button or s.rng.choice(BUTTONS)
        input_add(s, "press", "mousedown", s.held)
    else:
        input_add(s, "release", "mouseup", s.held)
        s.held = None


def input_drag(s, path=(), button=None):
    """A drag with a button held, from path's first spot along it (window pixels, or None
    for PARKED, off the window); without a path, along random moves in and out of it."""
    if s.held is not None:
        input_press(s)
    input_move(s, *(path[0] if path else ()))
    input_press(s, button or s.rng.choice(DRAG_BUTTONS))
    for spot in path:
        input_move(s, *spot) if spot else input_add(s, "move", "mousemove", *PARKED)
    for _ in range(0 if path else s.rng.randint(*DRAG_MOVES)):
        input_move(s, outside=s.rng.random() < DRAG_OUTSIDE)
    input_press(s)


def input_wheel(s):
    for _ in range(s.rng.randint(*WHEEL_BURST)):
        input_click(s, s.rng.choice(WHEEL_BUTTONS))


def input_key(s):
    if s.mapped and s.rng.random() < FOCUS_SHARE:
        input_add(s, "focus", "windowfocus", s.window)  # focusing an unmapped window fails
    input_add(s, "key", "key", "--delay", CLICK_DELAY_MS, s.rng.choice(KEYS))


def input_window(s, how=None):
    """Moves the window somewhere (partly off the screen too), raises it, or unmaps or
    maps it again."""
    how = how or s.rng.choice(("move", "move", "map", "raise"))
    words = {"move": ("windowmove", s.window, s.rng.randint(-WINDOW_WIDTH // 2, SCREEN_WIDTH -
                                                            WINDOW_WIDTH // 2),
                      s.rng.randint(-WINDOW_HEIGHT // 2, SCREEN_HEIGHT - WINDOW_HEIGHT // 2)),
             "raise": ("windowraise", s.window),
             "map": ("windowunmap" if s.mapped else "windowmap", s.window)}[how]
    input_add(s, "window", *words)
    s.mapped = s.mapped != (how == "map")


def input_cover(s):
    """Puts another window over part of the program's, or removes the oldest of MAX_COVERS."""
    input_send(s)
    s.covers = [c for c in s.covers if c.poll() is None]
    if len(s.covers) >= MAX_COVERS:
        stop(s.covers.pop(0))
        return
    x, y, w, h = geometry(s.p)
    cw, ch = s.rng.randint(*COVER_SIZE), s.rng.randint(*COVER_SIZE)
    cx, cy = x + s.rng.randint(-cw // 2, max(w - cw // 2, 1)), y + s.rng.randint(
        -ch // 2, max(h - ch // 2, 1))
    s.covers.append(subprocess.Popen(
        ["xmessage", "-geometry", "%dx%d+%d+%d" % (cw, ch, cx, cy), "covering the toy"],
        env=environment(display=s.p.display), stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    s.counts["cover"] = s.counts.get("cover", 0) + 1


def input_tour(s):
    """Every kind of input once, each action followed by a pause: moves inside, out and
    back, every button clicked, drags that leave the window and come back, a press
    held while the wheel turns, every key, the window moved, unmapped and mapped."""
    s.pause = TOUR_STEP_S
    for spot in TOUR_SPOTS + (None,) + TOUR_SPOTS[-1:]:
        input_move(s, *spot) if spot else input_add(s, "move", "mousemove", *PARKED)
    for button in BUTTONS:
        input_click(s, button)
    (x, y), (dx, dy) = TOUR_DRAG_FROM, TOUR_DRAG_STEP
    for button in TOUR_DRAG_BUTTONS:
        input_drag(s, [(x + i * dx, y + i * dy) for i in range(TOUR_DRAG_STEPS)] +
                   list(TOUR_DRAG_TAIL), button)
    input_move(s, *TOUR_SPOTS[-1])
    input_press(s, BUTTONS[0])
    for button in WHEEL_BUTTONS[:2]:
        input_click(s, button)
    input_press(s)
    input_add(s, "focus", "windowfocus", s.window)
    for key in KEYS:
        input_add(s, "key", "key", "--delay", CLICK_DELAY_MS, key)
    input_window(s, "move")
    input_window(s, "map")
    s.chain += ["sleep", TOUR_UNMAPPED_S]
    input_window(s, "map")
    s.pause = None
    input_home(s)


# The storm's draw: (share of the draws, action), with a short pause for the rest.
STORM = ((0.30, input_move), (0.08, lambda s: input_move(s, outside=True)),
         (0.10, input_click), (0.10, input_press), (0.05, input_drag), (0.05, input_wheel),
         (0.12, input_key), (0.08, input_window), (0.03, input_cover))


def input_storm(s, seconds, actions):
    """Input drawn at random until `seconds` have passed or `actions` were sent, in
    batches of BATCH_WORDS xdotool words a BATCH_PAUSE_S apart."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and input_actions(s) < actions:
        draw = s.rng.random()
        for share, action in STORM:
            if draw < share:
                if action is not input_cover or s.covers is not None:
                    action(s)
                break
            draw -= share
        else:
            input_add(s, "pause", "sleep", "%.2f" % s.rng.choice(STORM_PAUSES_S))
        if len(s.chain) >= BATCH_WORDS:
            input_send(s)
            time.sleep(BATCH_PAUSE_S)
    input_home(s)


def input_home(s):
    """Releases the button held, removes the covers and puts the window back home, mapped
    and on top; the program must still run."""
    if s.held is not None:
        input_press(s)
    input_send(s)
    input_end(s)
    xdo(s.p, "windowmap", s.window, "windowmove", s.window, *HOME, "windowraise", s.window)
    s.mapped = True
    expect_alive(s.p)


def input_end(s):
    for cover in s.covers or ():
        stop(cover)
    s.covers = [] if s.covers is not None else None


# ---------------------------------------------------------------- the settled pile

def check_pile(p, what="pile", fresh=True):
    """Waits for the pile to settle and judges it; keeps the screenshot as p.pile and
    returns what it saw.

    Any settled pile: every pixel column green from the floor up without a gap
    (a grain rests only on a taken cell; a column the X crosses counts its white
    as either), the last column bare, neighbouring inner columns at most
    PILE_STEP_MAX rows apart. A fresh pile (the program's own start, watched from
    its first frame) also: green on PILE_GREEN_MIN..MAX of the window, the top
    rows emptied, the bottom rows packed and the surface within PILE_SPREAD_MAX."""
    first = fresh and wait_shot(p, what, FIRST_FRAME_S, lambda shot: None if count(
        shot, GREEN) else "expected green grains in the window")
    shot = p.pile = wait_settled(p, what)
    heights = []  # per drawn column, rows of green from the floor; None where the X is
    for x in range(DRAWN_COLUMNS):
        column = shot.cls[x::shot.w]
        rest = column.rstrip(bytes((GREEN, WHITE)))
        if GREEN in rest:
            fail_with(p, what, shot, "expected no gap under the grains; pixel column %d has "
                      "green at row %d above a bare pixel" % (x, rest.index(GREEN)))
        heights.append(None if WHITE in column else shot.h - len(rest))
    last_green = count(shot, GREEN, DRAWN_COLUMNS, 0)
    step = max((abs(a - b) for a, b in zip(heights[1:-2], heights[2:-1]) if None not in (a, b)),
               default=0)
    inner = [h for h in heights[1:-1] if h is not None] or [0]
    green = count(shot, GREEN)
    seen = ("green %d px (%.3f of the window), columns %d..%d rows high, steepest step %d"
            % (green, green / shot.w / shot.h, min(inner), max(inner), step))
    if last_green or step > PILE_STEP_MAX:
        fail_with(p, what, shot, "expected the last pixel column bare and neighbouring columns "
                  "at most %d rows apart; %d green px in the last column; %s"
                  % (PILE_STEP_MAX, last_green, seen))
    if not fresh:
        return seen
    top, first_top = (count(s, GREEN, 0, 0, shot.w, TOP_ROWS) for s in (shot, first))
    bottom_bare = count(shot, BLACK, 0, shot.h - BOTTOM_ROWS, DRAWN_COLUMNS, shot.h)
    seen += ("; top %d rows %d px green (%d at the first frame), bottom %d rows %d px bare"
             % (TOP_ROWS, top, first_top, BOTTOM_ROWS, bottom_bare))
    if not PILE_GREEN_MIN <= green / shot.w / shot.h <= PILE_GREEN_MAX or \
            top > TOP_GREEN_MAX * shot.w * TOP_ROWS or top >= first_top or \
            bottom_bare > (1 - BOTTOM_GREEN_MIN) * DRAWN_COLUMNS * BOTTOM_ROWS or \
            max(inner) - min(inner) > PILE_SPREAD_MAX:
        fail_with(p, what, shot, "expected the start's grains to settle into a packed heap: "
                  "green on %.2f..%.2f of the window, the top %d rows emptying (at most %.0f%% "
                  "green, less than at first), the bottom %d rows packed, the surface within "
                  "%d rows; %s" % (PILE_GREEN_MIN, PILE_GREEN_MAX, TOP_ROWS, 100 * TOP_GREEN_MAX,
                                   BOTTOM_ROWS, PILE_SPREAD_MAX, seen))
    return seen


# ---------------------------------------------------------------- test scripts

def arguments(description, runtimes=RUNTIMES, program=True):
    """The options every real-program test takes (program: --vesk is required); returns the
    parser to add its own."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--vesk", required=program, help="the Linux program")
    parser.add_argument("--exe", help="the Windows program, for the wine runtime")
    parser.add_argument("--wm-close", help="tests/e2e's wm_close")
    parser.add_argument("--root", help="a Debian root of the program's processor, where it "
                        "runs under qemu-user (another processor's build)")
    parser.add_argument("--native", help="this machine's Linux program, whose settled pile "
                        "the emulated one's must equal")
    parser.add_argument("--runtime", choices=runtimes, default=runtimes[0])
    parser.add_argument("--artifacts", default=".", help="folder for screenshots and logs")
    # So that a test ended by ctest's timeout still ends its servers (finally blocks).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    return parser


def run_case(results, name, function, *args):
    """Runs one case, printing PASS or FAIL with the reason; returns whether it passed."""
    started = time.monotonic()
    try:
        note = function(*args)
        results.append((name, None))
        print("PASS %s (%.1f s)%s" % (name, time.monotonic() - started,
                                      ": " + note if note else ""), flush=True)
        return True
    except (Failure, subprocess.TimeoutExpired, OSError) as error:
        results.append((name, str(error)))
        print("FAIL %s (%.1f s): %s" % (name, time.monotonic() - started, error), flush=True)
        return False


def report(results):
    """Prints 'N passed, N failed' for a list of (name, error or None); returns the status."""
    failed = [name for name, error in results if error]
    print("%d passed, %d failed" % (len(results) - len(failed), len(failed)))
    return 1 if failed else 0


# ---------------------------------------------------------------- commands

def on_xvfb(args, work, name=None):
    """work(p) on the program started on the system runtime in a private Xvfb, the X
    pointer parked off its window; then ends both. Returns what work returns."""
    server = start_xvfb()
    p = None
    try:
        xdo(server, "mousemove", *PARKED)
        p = start(args, "system", server.display, name=name)
        return work(p)
    finally:
        if p:
            kill(p)
        stop(server.proc)


def serve(p):
    find_window(p)
    print("window %s" % p.window, flush=True)
    for line in sys.stdin:
        words = line.split()
        try:
            if words in (["picture"], ["still"]):
                shot = screenshot(p) if words == ["picture"] else wait_settled(p, "still")
                print(base64.b64encode(exact_colours(shot)).decode(), flush=True)
            elif words[:1] == ["move"] and len(words) == 3:
                pointer(p, *words[1:])
                print("ok", flush=True)
            else:
                print("error: unknown command %r" % line.strip(), flush=True)
        except Failure as failure:
            print("error: %s" % str(failure).replace("\n", " "), flush=True)


def launch(p, wm_class):
    def has_wm_class(p):
        said = run(["xprop", "-id", p.window, "WM_CLASS"], environment(display=p.display))
        check(said.rstrip().endswith('"%s"' % wm_class), "expected the class %r; %s"
              % (wm_class, said.strip()))
        return said.strip()
    results = []
    for name, step in [("window", find_window), ("wm_class", has_wm_class), ("close", close)]:
        if (name != "wm_class" or wm_class) and not run_case(results, name, step, p):
            break
    return report(results)


def xvfb(args):
    width, height, depth = map(int, args.screen.split("x"))
    server = start_xvfb(depth, (width, height))
    try:
        print("display %s" % server.display, flush=True)
        sys.stdin.read()
    finally:
        stop(server.proc)


def peak_rss(p):
    find_window(p)
    libs = loaded_runtime(p)
    time.sleep(PEAK_RSS_RUN_S)
    close_window(p)
    _, status, usage = os.wait4(p.pid, 0)
    check(status == 0, "the close request gave wait status %d" % status)
    print("Peak resident memory of vesk on X11 (%s): %d KiB (%.1f MiB)"
          % (libs, usage.ru_maxrss, usage.ru_maxrss / 1024))


# scale-pace: the scales measured (0: today's window, vesk_bench_unscaled),
# the screen that holds them all, and what is read from the benchmarks' summary.
PACE_SCALES = (0, 1, 2, 3)
PACE_SCREEN = (3840, 2160)
PACE_BENCHMARKS = "^(frame_pace|present_full)/"
PACE_LINE = re.compile(r"frame loop at ([\d.]+) % .*frame\(\) ([\d.]+) ms")
PRESENT_LINE = re.compile(r"^\s*present_full\s+([\d.e+]+) us", re.M)
PACE_RUN_S = 120


def scale_pace(args):
    """vesk_bench_window's frame pace, frame() and full present at each scale on each Linux
    runtime, and vesk_bench_unscaled's in today's window, runs taken by turns in one Xvfb;
    prints every run and the medians."""
    server = start_xvfb(size=PACE_SCREEN)
    runs = {}
    try:
        print("load average at the start: %.2f %.2f %.2f" % os.getloadavg(), flush=True)
        runtimes = [sdl_runtime(name, args.bench) for name in LINUX_RUNTIMES]
        for rt in runtimes:
            if rt.skip:
                print("skipped: %s runtime: %s" % (rt.name, rt.skip), flush=True)
        for turn in range(args.rounds):
            for runtime in [rt for rt in runtimes if not rt.skip]:
                for k in PACE_SCALES:
                    desktop_dpi(server, 96 * max(k, 1))
                    said = run([args.bench if k else args.today,
                                "--benchmark_filter=" + PACE_BENCHMARKS],
                               environment(runtime, server.display, {"SDL_VIDEODRIVER": "x11"}),
                               PACE_RUN_S)
                    pace, present = PACE_LINE.search(said), PRESENT_LINE.search(said)
                    check(pace and present, "scale-pace: no pace or present in %r" % said[-800:])
                    figures = tuple(float(v) for v in pace.groups() + present.groups())
                    runs.setdefault((runtime.name, k), []).append(figures)
                    print("turn %d %s %s: pace %.1f %%, frame() %.3f ms, full present %.1f us"
                          % ((turn + 1, runtime.name, "k=%d" % k if k else "today") + figures),
                          flush=True)
        print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
        for (runtime, k), figures in sorted(runs.items()):
            middle = [sorted(column)[len(column) // 2] for column in zip(*figures)]
            print("%s %s (%dx%d): median pace %.1f %% (%s), frame() %.3f ms, full present %.1f us"
                  % ((runtime, "k=%d" % k if k else "today", max(k, 1) * WINDOW_WIDTH,
                      max(k, 1) * WINDOW_HEIGHT, middle[0],
                      ", ".join("%.1f" % f[0] for f in figures)) + tuple(middle[1:])))
    finally:
        stop(server.proc)


def with_runtime(argv):
    """with-runtime RUNTIME [--root ROOT] PROGRAM [ARG...]: runs PROGRAM on a Linux
    runtime (its environment as given, LD_LIBRARY_PATH as the runtime wants; in ROOT
    under qemu-user when given), or says why the runtime is not tested here and exits
    SKIP_STATUS."""
    root = argv[2] if argv[1:2] == ["--root"] else None
    program = argv[3:] if root else argv[1:]
    if not program or argv[0] not in LINUX_RUNTIMES:
        print("usage: xharness.py with-runtime %s [--root ROOT] PROGRAM [ARG...]"
              % "|".join(LINUX_RUNTIMES), file=sys.stderr)
        return 2
    rt = runtime_or_skip(argv[0], program[0], root)
    env = dict(os.environ)
    env.pop("LD_LIBRARY_PATH", None)
    if rt.folder and not root:
        env["LD_LIBRARY_PATH"] = rt.folder
    print("runtime %s: %s%s" % (rt.name, rt.library, " (SDL2-backed)" if rt.sdl2 else ""),
          flush=True)
    if root:
        program = emulated(program[0], root, rt) + program[1:]
        os.execvpe(program[0], program, env)
    os.execve(program[0], program, env)


def main():
    if sys.argv[1:2] == ["with-runtime"]:
        return with_runtime(sys.argv[2:])
    commands = {"serve": lambda args: on_xvfb(args, serve),
                "launch": lambda args: on_xvfb(args, lambda p: launch(p, args.wm_class), "launch"),
                "xvfb": xvfb,
                "peak-rss": lambda args: on_xvfb(args, peak_rss),
                "scale-pace": scale_pace}
    parser = arguments("The X harness's own commands.", ("system",), program=False)
    parser.add_argument("command", choices=commands)
    parser.add_argument("--wm-class", help="launch: the WM_CLASS the window must carry")
    parser.add_argument("--screen", default="%dx%dx%d" % (SCREEN_WIDTH, SCREEN_HEIGHT,
                                                          SCREEN_DEPTH), help="xvfb: WxHxD")
    parser.add_argument("--bench", help="vesk_bench_window, for scale-pace")
    parser.add_argument("--today", help="vesk_bench_unscaled, today's window, for scale-pace")
    parser.add_argument("--rounds", type=int, default=3, help="turns of scale-pace")
    args = parser.parse_args()
    if not args.vesk and args.command != "xvfb":
        parser.error("%s needs --vesk" % args.command)
    try:
        return commands[args.command](args) or 0
    except Failure as failure:
        print("error: %s" % failure, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
