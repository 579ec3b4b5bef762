"""xsession: shared helpers of the robustness tests of the real program.

Conventions:
  - Python 3 standard library only; X is driven with xdotool, screenshots are
    taken with ImageMagick's `import` and parsed here (binary PPM).
  - Every X server is a private Xvfb started with -displayfd (it picks a free
    display number) and -nolisten tcp: nothing leaves this machine.
  - Every wait is bounded in time; every loop is bounded in count.
  - The program runs with core dumps disabled (RLIMIT_CORE 0); a status that
    is a signal, or a crash report on standard error (a sanitizer report, the
    SDL 1.2 parachute), fails the test.
  - Runtimes: "classic" is the SDL 1.2 library the program links against,
    "compat" is the SDL 2 backed sdl12-compat, chosen with LD_LIBRARY_PATH.
  - Window pixels: green grains are (0, 255, 0), the crosshair is white, the
    background black; colours are classified with margins (see is_green).
  - A test script prints one line per case and closes with
    "N passed, N failed"; it exits 0 only when nothing failed.
"""

import os
import re
import resource
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import displayfd  # noqa: E402  (tests/displayfd.py)

COMPAT_LIB_DIR = "/usr/lib/x86_64-linux-gnu/sdl12-compat"
RUNTIMES = ("classic", "compat")

# The private X screen: large enough to move the 200 x 300 window around.
SCREEN_WIDTH = 800
SCREEN_HEIGHT = 600
SCREEN_DEPTH = 24
WINDOW_WIDTH = 200
WINDOW_HEIGHT = 300
WINDOW_NAME = "Vesk"

# Time limits, in seconds.
XVFB_START_S = 15
WINDOW_WAIT_S = 30
EXIT_WAIT_S = 20
TOOL_WAIT_S = 20
POLL_S = 0.1

# Lines on standard error that mean the program crashed or broke its memory.
CRASH_MARKERS = (
    "AddressSanitizer",
    "LeakSanitizer",
    "UndefinedBehaviorSanitizer",
    "runtime error:",
    "Fatal signal",
    "Parachute",
    "Segmentation fault",
    "core dumped",
)

# Environment variables of SDL that the tests never inherit, so that every
# run sees the program's own defaults unless a case sets one.
SDL_VARIABLES = (
    "SDL_VIDEODRIVER",
    "SDL_AUDIODRIVER",
    "SDL_RENDER_DRIVER",
    "SDL_FRAMEBUFFER_ACCELERATION",
    "LD_LIBRARY_PATH",
)


class Failure(Exception):
    """A check of a test case did not hold."""


def check(condition, message):
    if not condition:
        raise Failure(message)


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


class Xvfb:
    """A private X server; `display` is its name, e.g. ":3"."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            [
                "Xvfb",
                "-displayfd",
                str(write_end),
                "-screen",
                "0",
                "%dx%dx%d" % (SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_DEPTH),
                "-nolisten",
                "tcp",
                "-noreset",
            ],
            pass_fds=(write_end,),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write_end)
        self.display = displayfd.read_display(read_end, XVFB_START_S, POLL_S)
        if self.display is None:
            self.stop()
            raise Failure("Xvfb did not start within %d s" % XVFB_START_S)

    def alive(self):
        return self.proc.poll() is None

    def kill(self, sig):
        if self.alive():
            self.proc.send_signal(sig)
        try:
            self.proc.wait(timeout=EXIT_WAIT_S)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=EXIT_WAIT_S)

    def stop(self):
        self.kill(signal.SIGTERM)


def base_environment(display=None, runtime="classic", extra=None):
    env = {k: v for k, v in os.environ.items() if k not in SDL_VARIABLES and k != "DISPLAY"}
    if display is not None:
        env["DISPLAY"] = display
    if runtime == "compat":
        env["LD_LIBRARY_PATH"] = COMPAT_LIB_DIR
    if extra:
        env.update(extra)
    return env


class Program:
    """The toy (or a wrapper around it, such as valgrind) running in the background.

    limits: {resource.RLIMIT_...: bytes} applied in the child before exec.
    """

    def __init__(self, argv, env, limits=None):
        self.stderr_file = tempfile.TemporaryFile()
        self.stdout_file = tempfile.TemporaryFile()
        all_limits = {resource.RLIMIT_CORE: 0}
        all_limits.update(limits or {})

        def set_limits():
            for which, value in all_limits.items():
                resource.setrlimit(which, (value, value))

        self.proc = subprocess.Popen(
            argv,
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=self.stdout_file,
            stderr=self.stderr_file,
            preexec_fn=set_limits,
        )
        self.pid = self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def wait(self, seconds=EXIT_WAIT_S):
        """The exit status, or None if it is still running after `seconds`."""
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.alive():
            self.proc.kill()
            self.proc.wait(timeout=EXIT_WAIT_S)

    def _read(self, f):
        f.seek(0)
        return f.read().decode(errors="replace")

    def stderr(self):
        return self._read(self.stderr_file)

    def stdout(self):
        return self._read(self.stdout_file)

    def rss_kb(self):
        """Resident memory (VmRSS) in KiB, or None once the process is gone."""
        try:
            with open("/proc/%d/status" % self.pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except OSError:
            return None
        return None


def run_tool(display, argv, timeout=TOOL_WAIT_S, check_status=True):
    env = base_environment(display)
    result = subprocess.run(
        argv, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout
    )
    if check_status and result.returncode != 0:
        raise Failure(
            "%s failed (%s): %s"
            % (argv[0], status_text(result.returncode), result.stderr.decode(errors="replace"))
        )
    return result.stdout


def xdo(display, *args, timeout=TOOL_WAIT_S):
    """Runs one xdotool command chain."""
    return run_tool(display, ["xdotool"] + [str(a) for a in args], timeout=timeout)


def find_window(display, program=None, seconds=WINDOW_WAIT_S):
    """The id of the window named Vesk, waiting at most `seconds` for it."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if program is not None and not program.alive():
            raise Failure(
                "the program ended before its window appeared (%s): %s"
                % (status_text(program.proc.returncode), program.stderr()[-2000:])
            )
        out = run_tool(
            display, ["xdotool", "search", "--name", "^%s$" % WINDOW_NAME], check_status=False
        )
        ids = out.split()
        if ids:
            return int(ids[0])
        time.sleep(POLL_S * 2)
    raise Failure("no window named %s within %d s" % (WINDOW_NAME, seconds))


def geometry(display, window):
    """(x, y, width, height) of the window on the screen."""
    out = run_tool(display, ["xdotool", "getwindowgeometry", "--shell", str(window)]).decode()
    values = dict(re.findall(r"^(\w+)=(-?\d+)$", out, re.M))
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def close_window(display, wm_close, window):
    run_tool(display, [wm_close, str(window)])


class Image:
    """RGB pixels, row-major, 3 bytes a pixel."""

    def __init__(self, width, height, data):
        self.width = width
        self.height = height
        self.data = data

    def pixel(self, column, row):
        i = 3 * (row * self.width + column)
        return self.data[i], self.data[i + 1], self.data[i + 2]

    def crop(self, x, y, width, height):
        rows = []
        for row in range(y, y + height):
            start = 3 * (row * self.width + x)
            rows.append(self.data[start : start + 3 * width])
        return Image(width, height, b"".join(rows))


def parse_ppm(blob):
    """Parses a binary PPM (P6, maxval 255)."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while blob[pos : pos + 1].isspace():
            pos += 1
        if blob[pos : pos + 1] == b"#":
            pos = blob.index(b"\n", pos) + 1
            continue
        start = pos
        while not blob[pos : pos + 1].isspace():
            pos += 1
        fields.append(blob[start:pos])
    pos += 1
    check(fields[0] == b"P6" and fields[3] == b"255", "screenshot is not an 8-bit PPM")
    width, height = int(fields[1]), int(fields[2])
    data = blob[pos : pos + 3 * width * height]
    check(len(data) == 3 * width * height, "screenshot is truncated")
    return Image(width, height, data)


def screenshot(display, window):
    """The window's pixels as they are on the screen (cropped from the root
    window, so whatever covers the window shows too), clipped to the screen."""
    x, y, width, height = geometry(display, window)
    blob = run_tool(display, ["import", "-window", "root", "-depth", "8", "ppm:-"])
    root = parse_ppm(blob)
    left, top = max(x, 0), max(y, 0)
    right, bottom = min(x + width, root.width), min(y + height, root.height)
    check(right > left and bottom > top, "the window is off the screen")
    return root.crop(left, top, right - left, bottom - top)


def is_green(rgb):
    r, g, b = rgb
    return g >= 200 and r <= 60 and b <= 60


def is_white(rgb):
    return min(rgb) >= 200


def count(image, predicate):
    n = 0
    for row in range(image.height):
        for column in range(image.width):
            n += predicate(image.pixel(column, row))
    return n


def crosshair_centre(image):
    """Mean position of the white pixels, or None when there are none."""
    sx = sy = n = 0
    for row in range(image.height):
        for column in range(image.width):
            if is_white(image.pixel(column, row)):
                sx += column
                sy += row
                n += 1
    if n == 0:
        return None
    return sx / n, sy / n


def report(results):
    """Prints the closing line and returns the exit status for a list of
    (name, error or None)."""
    failed = [name for name, error in results if error]
    print("%d passed, %d failed" % (len(results) - len(failed), len(failed)))
    return 1 if failed else 0


def run_case(results, name, function, *args):
    """Runs one case, printing PASS or FAIL with the reason."""
    started = time.monotonic()
    try:
        note = function(*args)
        results.append((name, None))
        print(
            "PASS %s (%.1f s)%s" % (name, time.monotonic() - started, ": " + note if note else ""),
            flush=True,
        )
    except (Failure, subprocess.TimeoutExpired, OSError) as error:
        results.append((name, str(error)))
        print("FAIL %s (%.1f s): %s" % (name, time.monotonic() - started, error), flush=True)


# The crosshair check: the white pixels' centre must come within this many
# pixels of the pointer, within CROSSHAIR_TRIES screenshots CROSSHAIR_PAUSE_S apart.
CROSSHAIR_TOLERANCE_PX = 3
CROSSHAIR_TRIES = 20
CROSSHAIR_PAUSE_S = 0.25
# Pointer positions for the check keep the whole crosshair (10 pixels each
# way across, 15 up and down) inside the window.
CROSSHAIR_MARGIN_X = 20
CROSSHAIR_MARGIN_Y = 25


def crosshair_follows(display, window, x, y, tries=CROSSHAIR_TRIES):
    """Moves the pointer to window pixel (x, y) and waits, a bounded number
    of screenshots, for the crosshair to be drawn there. Returns the number
    of screenshots it took."""
    xdo(display, "mousemove", "--window", window, x, y)
    last = None
    for attempt in range(1, tries + 1):
        image = screenshot(display, window)
        last = crosshair_centre(image)
        if last and abs(last[0] - x) <= CROSSHAIR_TOLERANCE_PX and abs(
            last[1] - y
        ) <= CROSSHAIR_TOLERANCE_PX:
            return attempt
        time.sleep(CROSSHAIR_PAUSE_S)
    raise Failure(
        "the crosshair is at %s, not at the pointer (%d, %d), after %d screenshots"
        % ("nowhere" if last is None else "(%.1f, %.1f)" % last, x, y, tries)
    )


def sanitizer_environment(suppressions):
    """Options that make a sanitizer build report on standard error and stop
    at the first error; LeakSanitizer skips the libraries' leaks listed in
    `suppressions`."""
    return {
        "ASAN_OPTIONS": "detect_leaks=1:halt_on_error=1:abort_on_error=0",
        "LSAN_OPTIONS": "suppressions=%s:print_suppressions=0" % suppressions,
        "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
    }
