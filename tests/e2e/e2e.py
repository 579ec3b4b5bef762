#!/usr/bin/env python3
# e2e.py: end-to-end tests of the real vesk program, in a private Xvfb,
# driven with real X input from xdotool and watched through screenshots.
#
#   e2e.py window --vesk PATH --wm-close PATH --runtime classic|compat
#                 --depth 24|16 --artifacts DIR
#   e2e.py no-display --vesk PATH --artifacts DIR
#
# `window` starts Xvfb at the given screen depth, runs the program on the
# chosen SDL 1.2 runtime (classic: Debian's libsdl1.2debian, found by the
# loader as usual; compat: the SDL2-backed libsdl1.2-compat, chosen with
# LD_LIBRARY_PATH) and checks, in order: the window, the settled pile, the
# crosshair, keys, a crater, a drag, and the close request. It stops at the
# first failing group. `no-display` checks the start-up error on both
# runtimes.
#
# Conventions:
#   - Python 3 standard library only; plain functions, no classes but the
#     failure exception. Every wait is a loop bounded by a deadline in
#     seconds; every external command has a timeout.
#   - Coordinates are window pixels, x rightward and y downward from the
#     window's top-left corner; only pointer_to adds the window's position
#     for xdotool, which takes root window pixels.
#   - A screenshot reads the ROOT window with ImageMagick (8 bits a channel)
#     and crops it to the window: reading SDL's own window can give wrong
#     colours. Each pixel is classed as black, green, white or other with a
#     tolerance, since a 16-bit surface or screen may turn a full channel
#     into 248..254. Every screenshot must be all black, green or white.
#   - A failure raises Failed with what was expected and what was seen, and
#     saves the screenshot concerned as a PNG in the artifacts directory.
#   - Xvfb and the program are always ended (try/finally), by their own pids.
#   - Exit status: 0 when every check passed, 1 otherwise.
import argparse
import os
import signal
import struct
import subprocess
import sys
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import displayfd  # noqa: E402  (tests/displayfd.py)

# The window the program opens, in pixels.
WINDOW_WIDTH = 200
WINDOW_HEIGHT = 300
WINDOW_NAME = "Vesk"
# Xvfb's screen, in pixels; its depth comes from the command line.
SCREEN_WIDTH = 640
SCREEN_HEIGHT = 480

# Pixel classes. A channel at or above FULL_MIN counts as full, at or below
# OFF_MAX as off (8-bit channel values).
BLACK, GREEN, WHITE, OTHER = 0, 1, 2, 3
FULL_MIN = 240
OFF_MAX = 15

# Time limits, in seconds.
XVFB_START_S = 10
XVFB_TRIES = 3                 # fresh Xvfb servers tried before giving up
WINDOW_APPEAR_S = 10
COMMAND_S = 10
SETTLE_S = 15
CROSSHAIR_APPEAR_S = 3
CLOSE_S = 5
HOLE_APPEAR_S = 1
NO_DISPLAY_S = 10
# Pauses, in seconds.
POLL_S = 0.1
STABLE_INTERVAL_S = 0.5
KEYS_AFTER_S = 0.5
CRATER_HOLD_S = 0.5
AFTER_RELEASE_S = 0.3

# The pile. About 57,400 grains fill a 200 x 300 window of 60,000 pixels;
# the last pixel column is never drawn and two grid columns (and two grid
# rows) share a pixel, so settled green covers a little less (0.95).
PILE_GREEN_MIN = 0.93          # of the window's area
PILE_GREEN_MAX = 0.96
TOP_ROWS = 8                   # rows at the top that the settled pile leaves empty
TOP_GREEN_MAX = 0.02           # of those rows' area
BOTTOM_ROWS = 150              # rows at the bottom that the settled pile fills
BOTTOM_GREEN_MIN = 0.995       # of those rows' area, last column and crosshair excepted
DRAWN_COLUMNS = WINDOW_WIDTH - 1   # the last pixel column stays black
SURFACE_EDGE = 2               # columns at each side left out of the surface checks
SURFACE_STEP_MAX = 3           # pixels between neighbouring columns' tops
SURFACE_SPREAD_MAX = 30        # pixels between the highest and lowest top
HOLES_BELOW_SURFACE_MAX = 5    # black pixels under the surface, in all columns

# The crosshair: an X about 20 px wide and 30 px tall centred on the pointer,
# its arms along slopes of +-1.5 (rows per column).
CROSS_WIDTH = 20
CROSS_HEIGHT = 30
CROSS_SIZE_SLACK = 3           # px either way on width and height
CROSS_CENTRE_SLACK = 2         # px between the X's centre and the pointer
CROSS_ARM_SLOPE = 1.5
CROSS_ARM_SLACK = 2.5          # px between a white pixel and the nearer arm
CROSS_ARM_PIXELS_MIN = 5       # white pixels in each of the four arms
CROSS_PIXELS_MAX = 200         # an X, not a filled box
CROSS_SPOTS = ((60, 100), (150, 220))

# Keys sent to the focused window; none may do anything.
KEYS = ("a", "space", "Return", "Escape", "q", "Left", "Up", "F1")

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

# The drag: along one row, in steps, with the button held; at each checkpoint
# the ground under the pointer must be bare. Holes left behind rise (and
# drift right) within a few frames, so the path is watched at the pointer.
DRAG_ROW = 230
DRAG_FROM = 40
DRAG_TO = 160
DRAG_STEP = 5                  # px a step
DRAG_CHECKPOINTS = (60, 100, 140)
DRAG_LOSS_MIN = (DRAG_TO - DRAG_FROM) * BRUSH_SIZE // 2  # grains: half the swept cells

# Where Debian's SDL2-backed runtime puts its libSDL-1.2.so.0.
COMPAT_PACKAGE = "libsdl1.2-compat"
SDL12_SONAME = "libSDL-1.2.so.0"
COMPAT_DIR_NAME = "sdl12-compat"


class Failed(Exception):
    pass


# ---------------------------------------------------------------- processes

def run(argv, env, timeout=COMMAND_S, check=True):
    """Runs a command to its end; returns its stdout as text."""
    try:
        done = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failed("%s did not finish within %s s" % (" ".join(argv), timeout))
    if check and done.returncode != 0:
        raise Failed("%s exited with %d: %s" % (" ".join(argv), done.returncode,
                                                done.stderr.strip()))
    return done.stdout


def stop(proc):
    """Ends a process we started, by its pid, and reaps it."""
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=3)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=3)


def start_xvfb_once(depth, log_path):
    """Starts Xvfb on a display it picks; returns (process, display name) or Failed.

    -noreset: by default Xvfb resets when its last client leaves, and a client
    that connects meanwhile (the program, right after the probe below) is
    refused; SDL 1.2 then falls back to another video driver."""
    read_end, write_end = os.pipe()
    with open(log_path, "w") as log:
        proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset", "-screen", "0",
             "%dx%dx%d" % (SCREEN_WIDTH, SCREEN_HEIGHT, depth)],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=(write_end,))
    os.close(write_end)
    display = displayfd.read_display(read_end, XVFB_START_S, POLL_S)
    if display is None:
        stop(proc)
        raise Failed("Xvfb gave no display number within %d s (see %s)"
                     % (XVFB_START_S, log_path))
    # Ask the server itself: it must answer, with the screen we asked for.
    env = dict(os.environ, DISPLAY=display)
    info = subprocess.run(["xdpyinfo"], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=COMMAND_S)
    want = ("dimensions:    %dx%d pixels" % (SCREEN_WIDTH, SCREEN_HEIGHT),
            "depth of root window:    %d planes" % depth)
    if info.returncode != 0 or not all(w in info.stdout for w in want):
        stop(proc)
        raise Failed("Xvfb on %s: expected a %dx%d screen of depth %d; xdpyinfo said: %s"
                     % (display, SCREEN_WIDTH, SCREEN_HEIGHT, depth,
                        (info.stderr.strip() or "a different screen")))
    return proc, display


def start_xvfb(depth, log_path):
    """Starts a private Xvfb, trying afresh if one does not answer as asked."""
    for attempt in range(XVFB_TRIES):
        try:
            return start_xvfb_once(depth, log_path)
        except Failed as failure:
            if attempt == XVFB_TRIES - 1:
                raise
            print("retrying: %s" % failure)


def base_env():
    """The caller's environment without anything that would steer SDL elsewhere."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "LD_LIBRARY_PATH",
                 "SDL_VIDEO_WINDOW_POS", "SDL_VIDEO_CENTERED"):
        env.pop(name, None)
    return env


def compat_dir():
    """The directory holding libsdl1.2-compat's libSDL-1.2.so.0, or Failed."""
    candidates = []
    try:
        listing = subprocess.run(["dpkg", "-L", COMPAT_PACKAGE], capture_output=True,
                                 text=True, timeout=COMMAND_S).stdout
        candidates += [os.path.dirname(line) for line in listing.splitlines()
                       if line.endswith("/" + SDL12_SONAME)]
    except (OSError, subprocess.TimeoutExpired):
        pass
    try:
        arch = subprocess.run(["gcc", "-print-multiarch"], capture_output=True, text=True,
                              timeout=COMMAND_S).stdout.strip()
        if arch:
            candidates.append(os.path.join("/usr/lib", arch, COMPAT_DIR_NAME))
    except (OSError, subprocess.TimeoutExpired):
        pass
    for directory in candidates:
        if os.path.exists(os.path.join(directory, SDL12_SONAME)):
            return directory
    raise Failed("the SDL2-backed runtime (%s) is not installed: no %s found in %s; "
                 "install it with ./scripts/setup.sh test"
                 % (COMPAT_PACKAGE, SDL12_SONAME, candidates or "dpkg -L " + COMPAT_PACKAGE))


def runtime_env(runtime, env):
    """Returns env set up to load the chosen runtime, and the directory it loads from."""
    env = dict(env)
    if runtime == "compat":
        directory = compat_dir()
        env["LD_LIBRARY_PATH"] = directory
        return env, directory
    return env, None


def loaded_sdl(pid):
    """Paths of the libSDL* libraries mapped into process pid."""
    paths = set()
    try:
        with open("/proc/%d/maps" % pid) as maps:
            for line in maps:
                fields = line.split()
                if len(fields) >= 6 and "/libSDL" in fields[5]:
                    paths.add(os.path.realpath(fields[5]))
    except OSError:
        pass
    return sorted(paths)


def check_runtime(pid, runtime, directory):
    libs = loaded_sdl(pid)
    real_dir = os.path.realpath(directory) if directory else None
    sdl12 = [p for p in libs if "libSDL-1.2" in p]
    if runtime == "compat":
        ok = any(os.path.dirname(p) == real_dir for p in sdl12) and \
            any("libSDL2" in p for p in libs)
        want = "libSDL-1.2 from %s and libSDL2" % real_dir
    else:
        ok = bool(sdl12) and not any(COMPAT_DIR_NAME in p for p in sdl12) and \
            not any("libSDL2" in p for p in libs)
        want = "the classic libSDL-1.2 and no libSDL2"
    if not ok:
        raise Failed("runtime: expected the program to load %s; it loaded %s"
                     % (want, libs or "no libSDL at all"))
    return libs


def program_alive(proc, err_path):
    if proc.poll() is not None:
        raise Failed("the program ended early with status %d; its stderr ends with:\n%s"
                     % (proc.returncode, tail(err_path)))


def tail(path, lines=10):
    try:
        with open(path, errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return ""


# ---------------------------------------------------------------- screenshots

def parse_ppm(data):
    """Returns (width, height, pixel bytes at 8 bits a channel) of a binary P6 image."""
    fields = []
    pos = 0
    while len(fields) < 4:
        if pos >= len(data):
            raise Failed("screenshot: ImageMagick gave a truncated image header: %r"
                         % data[:40])
        while pos < len(data) and data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while pos < len(data) and data[pos:pos + 1] != b"\n":
                pos += 1
            continue
        start = pos
        while pos < len(data) and not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or not all(f.isdigit() for f in fields[1:]):
        raise Failed("screenshot: expected a P6 image from ImageMagick, got %r" % fields[0])
    width, height, maxval = int(fields[1]), int(fields[2]), int(fields[3])
    pixels = data[pos + 1:]
    if maxval > 255:
        wide = struct.unpack(">%dH" % (width * height * 3), pixels[:width * height * 6])
        pixels = bytes(v * 255 // maxval for v in wide)
    elif maxval != 255:
        pixels = bytes(v * 255 // maxval for v in pixels)
    if len(pixels) < width * height * 3:
        raise Failed("screenshot: truncated image, %d bytes for %dx%d"
                     % (len(pixels), width, height))
    return width, height, pixels


def classify(r, g, b):
    full = [c >= FULL_MIN for c in (r, g, b)]
    off = [c <= OFF_MAX for c in (r, g, b)]
    if all(off):
        return BLACK
    if all(full):
        return WHITE
    if off[0] and full[1] and off[2]:
        return GREEN
    return OTHER


def screenshot(ctx):
    """The window's pixels now: a dict with 'rgb' (bytes, row-major) and 'cls'."""
    data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                          env=ctx["env"], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=COMMAND_S)
    if data.returncode != 0:
        raise Failed("screenshot: import exited with %d: %s"
                     % (data.returncode, data.stderr.decode(errors="replace").strip()))
    width, height, pixels = parse_ppm(data.stdout)
    x0, y0 = ctx["window_x"], ctx["window_y"]
    if x0 < 0 or y0 < 0 or x0 + WINDOW_WIDTH > width or y0 + WINDOW_HEIGHT > height:
        raise Failed("screenshot: the window at (%d, %d) is not wholly on the %dx%d screen"
                     % (x0, y0, width, height))
    rgb = bytearray()
    for y in range(WINDOW_HEIGHT):
        start = ((y0 + y) * width + x0) * 3
        rgb += pixels[start:start + WINDOW_WIDTH * 3]
    table = {}
    cls = bytearray(WINDOW_WIDTH * WINDOW_HEIGHT)
    for i in range(WINDOW_WIDTH * WINDOW_HEIGHT):
        key = bytes(rgb[3 * i:3 * i + 3])
        c = table.get(key)
        if c is None:
            c = table[key] = classify(*key)
        cls[i] = c
    shot = {"rgb": bytes(rgb), "cls": bytes(cls)}
    others = count(shot, OTHER)
    if others:
        i = shot["cls"].index(OTHER)
        path = save_png(ctx, "colours", shot)
        raise Failed("colours: expected only black, green (0,255,0) and white pixels; "
                     "%d other pixels, the first at (%d, %d) is %s; see %s"
                     % (others, i % WINDOW_WIDTH, i // WINDOW_WIDTH,
                        tuple(shot["rgb"][3 * i:3 * i + 3]), path))
    return shot


def count(shot, cls, x0=0, y0=0, x1=WINDOW_WIDTH, y1=WINDOW_HEIGHT):
    """Pixels of class cls in columns x0..x1-1 and rows y0..y1-1 (clipped)."""
    x0, x1 = max(x0, 0), min(x1, WINDOW_WIDTH)
    y0, y1 = max(y0, 0), min(y1, WINDOW_HEIGHT)
    if x0 >= x1:
        return 0
    return sum(shot["cls"][y * WINDOW_WIDTH + x0:y * WINDOW_WIDTH + x1].count(cls)
               for y in range(y0, y1))


def pixels_of(shot, cls):
    return [(i % WINDOW_WIDTH, i // WINDOW_WIDTH) for i, c in enumerate(shot["cls"]) if c == cls]


def column_green(shot):
    return [count(shot, GREEN, x, 0, x + 1, WINDOW_HEIGHT) for x in range(WINDOW_WIDTH)]


def save_png(ctx, what, shot):
    """Writes the screenshot as an RGB PNG in the artifacts directory; returns its path."""
    path = os.path.join(ctx["artifacts"], "e2e_%s_%s.png" % (ctx["name"], what))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    rows = b"".join(b"\0" + shot["rgb"][y * WINDOW_WIDTH * 3:(y + 1) * WINDOW_WIDTH * 3]
                    for y in range(WINDOW_HEIGHT))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", WINDOW_WIDTH, WINDOW_HEIGHT,
                                           8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows)))
        f.write(chunk(b"IEND", b""))
    return path


def fail_with(ctx, what, shot, message):
    raise Failed("%s: %s; see %s" % (what, message, save_png(ctx, what, shot)))


def wait_settled(ctx, what, when=""):
    """Screenshots until two in a row, STABLE_INTERVAL_S apart, are identical."""
    deadline = time.monotonic() + SETTLE_S
    last = screenshot(ctx)
    while time.monotonic() < deadline:
        time.sleep(STABLE_INTERVAL_S)
        program_alive(ctx["proc"], ctx["err_path"])
        shot = screenshot(ctx)
        if shot["cls"] == last["cls"]:
            return shot
        last = shot
    fail_with(ctx, what, last, "expected the pile to stop moving within %d s%s; it still "
              "changed between the last two screenshots" % (SETTLE_S, when))


# ---------------------------------------------------------------- input

def pointer_to(ctx, x, y):
    run(["xdotool", "mousemove", str(ctx["window_x"] + x), str(ctx["window_y"] + y)],
        ctx["env"])


def button(ctx, action, number):
    run(["xdotool", action, str(number)], ctx["env"])


# ---------------------------------------------------------------- checks

def find_window(ctx):
    """Waits for the one visible window named Vesk; records its id and position."""
    deadline = time.monotonic() + WINDOW_APPEAR_S
    ids = []
    while time.monotonic() < deadline:
        program_alive(ctx["proc"], ctx["err_path"])
        out = run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % WINDOW_NAME],
                  ctx["env"], check=False)
        ids = out.split()
        if ids:
            break
        time.sleep(POLL_S)
    if len(ids) != 1:
        tree = subprocess.run(["xwininfo", "-root", "-children"], env=ctx["env"],
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=COMMAND_S)
        raise Failed("window: expected one visible window named %r within %d s; found %d. "
                     "The server's top-level windows:\n%s%s\nThe program's stderr ends with:"
                     "\n%s" % (WINDOW_NAME, WINDOW_APPEAR_S, len(ids), tree.stdout,
                               tree.stderr, tail(ctx["err_path"])))
    window = ids[0]
    name = run(["xdotool", "getwindowname", window], ctx["env"]).rstrip("\n")
    geometry = {}
    for line in run(["xdotool", "getwindowgeometry", "--shell", window], ctx["env"]).split():
        key, _, value = line.partition("=")
        geometry[key] = int(value)
    if name != WINDOW_NAME or (geometry["WIDTH"], geometry["HEIGHT"]) != (WINDOW_WIDTH,
                                                                          WINDOW_HEIGHT):
        raise Failed("window: expected %r of %dx%d; got %r of %dx%d"
                     % (WINDOW_NAME, WINDOW_WIDTH, WINDOW_HEIGHT, name, geometry["WIDTH"],
                        geometry["HEIGHT"]))
    ctx["window"] = window
    ctx["window_x"], ctx["window_y"] = geometry["X"], geometry["Y"]
    return "window %s %r %dx%d at (%d, %d)" % (window, name, geometry["WIDTH"],
                                               geometry["HEIGHT"], geometry["X"], geometry["Y"])


def surface_tops(shot):
    """For each drawn column, the first green row from the top (WINDOW_HEIGHT if none)."""
    tops = []
    for x in range(DRAWN_COLUMNS):
        top = WINDOW_HEIGHT
        for y in range(WINDOW_HEIGHT):
            if shot["cls"][y * WINDOW_WIDTH + x] == GREEN:
                top = y
                break
        tops.append(top)
    return tops


def first_frame(ctx):
    """Waits for the first screenshot with grains in it."""
    deadline = time.monotonic() + WINDOW_APPEAR_S
    while True:
        program_alive(ctx["proc"], ctx["err_path"])
        shot = screenshot(ctx)
        if count(shot, GREEN):
            return shot
        if time.monotonic() >= deadline:
            fail_with(ctx, "pile", shot, "expected green grains in the window within %d s; "
                      "none" % WINDOW_APPEAR_S)
        time.sleep(POLL_S)


def check_pile(ctx):
    """The pile falls from its scattered start and settles into a packed heap."""
    first = first_frame(ctx)
    first_top = count(first, GREEN, 0, 0, WINDOW_WIDTH, TOP_ROWS)
    shot = wait_settled(ctx, "pile")
    area = WINDOW_WIDTH * WINDOW_HEIGHT
    green = count(shot, GREEN)
    top = count(shot, GREEN, 0, 0, WINDOW_WIDTH, TOP_ROWS)
    bottom_area = DRAWN_COLUMNS * BOTTOM_ROWS
    bottom_bare = count(shot, BLACK, 0, WINDOW_HEIGHT - BOTTOM_ROWS, DRAWN_COLUMNS,
                        WINDOW_HEIGHT)
    tops = surface_tops(shot)
    inner = tops[SURFACE_EDGE:DRAWN_COLUMNS - SURFACE_EDGE]
    step = max(abs(a - b) for a, b in zip(inner, inner[1:]))
    spread = max(inner) - min(inner)
    holes = sum(count(shot, BLACK, x, tops[x], x + 1, WINDOW_HEIGHT)
                for x in range(DRAWN_COLUMNS))
    seen = ("green %d px (%.3f of the window), top %d rows %d px green (%d at the first "
            "screenshot), bottom %d rows %d px bare, surface rows %d..%d, steepest step "
            "%d px, %d holes under the surface"
            % (green, green / area, TOP_ROWS, top, first_top, BOTTOM_ROWS, bottom_bare,
               min(inner), max(inner), step, holes))
    if not PILE_GREEN_MIN <= green / area <= PILE_GREEN_MAX:
        fail_with(ctx, "pile", shot, "expected green on %.2f..%.2f of the window; %s"
                  % (PILE_GREEN_MIN, PILE_GREEN_MAX, seen))
    if top > TOP_GREEN_MAX * WINDOW_WIDTH * TOP_ROWS or top >= first_top:
        fail_with(ctx, "pile", shot, "expected the top %d rows to empty as the grains fall "
                  "(at most %.0f%% green, less than at first); %s"
                  % (TOP_ROWS, 100 * TOP_GREEN_MAX, seen))
    if bottom_bare > (1 - BOTTOM_GREEN_MIN) * bottom_area:
        fail_with(ctx, "pile", shot, "expected the bottom %d rows packed with green; %s"
                  % (BOTTOM_ROWS, seen))
    if step > SURFACE_STEP_MAX or spread > SURFACE_SPREAD_MAX or \
            holes > HOLES_BELOW_SURFACE_MAX:
        fail_with(ctx, "pile", shot, "expected a packed heap with a level surface (steps "
                  "<= %d px, spread <= %d px, <= %d holes); %s"
                  % (SURFACE_STEP_MAX, SURFACE_SPREAD_MAX, HOLES_BELOW_SURFACE_MAX, seen))
    return seen


def describe_cross(shot, x, y):
    """Measures the white pixels against an X centred at (x, y); returns (problem, text)."""
    white = pixels_of(shot, WHITE)
    if not white:
        return "no white pixels", "no white pixels"
    xs = [p[0] for p in white]
    ys = [p[1] for p in white]
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


def wait_cross(ctx, x, y, what):
    """Waits until the white X stands at (x, y); returns the screenshot."""
    deadline = time.monotonic() + CROSSHAIR_APPEAR_S
    while True:
        program_alive(ctx["proc"], ctx["err_path"])
        shot = screenshot(ctx)
        problem, text = describe_cross(shot, x, y)
        if problem is None:
            return shot, text
        if time.monotonic() >= deadline:
            fail_with(ctx, what, shot, "expected a white X of about %dx%d px centred at the "
                      "pointer (%d, %d) within %d s; wrong %s: %s"
                      % (CROSS_WIDTH, CROSS_HEIGHT, x, y, CROSSHAIR_APPEAR_S, problem, text))
        time.sleep(POLL_S)


def check_crosshair(ctx):
    """The X follows the pointer, and leaves nothing at its old place."""
    seen = []
    for x, y in CROSS_SPOTS:
        pointer_to(ctx, x, y)
        shot, text = wait_cross(ctx, x, y, "crosshair")
        seen.append("at (%d, %d): %s" % (x, y, text))
    ctx["cross"] = CROSS_SPOTS[-1]
    return "; ".join(seen)


def check_keys(ctx):
    """Keys to the focused window neither move the X, nor touch the pile, nor end it."""
    x, y = ctx["cross"]
    before = wait_settled(ctx, "keys")
    run(["xdotool", "windowfocus", "--sync", ctx["window"]], ctx["env"])
    focus = run(["xdotool", "getwindowfocus", "-f"], ctx["env"]).strip()
    if focus != ctx["window"]:
        raise Failed("keys: expected the focus on the program's window %s; it is on %s"
                     % (ctx["window"], focus))
    run(["xdotool", "key", "--delay", "20"] + list(KEYS), ctx["env"])
    time.sleep(KEYS_AFTER_S)
    program_alive(ctx["proc"], ctx["err_path"])
    shot = screenshot(ctx)
    problem, text = describe_cross(shot, x, y)
    if problem:
        fail_with(ctx, "keys", shot, "expected the X to stay at (%d, %d) after keys %s; "
                  "wrong %s: %s" % (x, y, " ".join(KEYS), problem, text))
    if shot["cls"] != before["cls"]:
        fail_with(ctx, "keys", shot, "expected keys %s to leave the settled picture as it "
                  "was; green went from %d to %d px"
                  % (" ".join(KEYS), count(before, GREEN), count(shot, GREEN)))
    return "window focused, keys %s: X still at (%d, %d), pile as it was" % (
        " ".join(KEYS), x, y)


def check_crater(ctx):
    """Holding a button wipes a hole under the X, and only while it is held."""
    x, y = CRATER_SPOT
    pointer_to(ctx, x, y)
    wait_cross(ctx, x, y, "crater")
    before = wait_settled(ctx, "crater")
    button(ctx, "mousedown", CRATER_BUTTON)
    try:
        time.sleep(CRATER_HOLD_S)
        held = screenshot(ctx)
    finally:
        button(ctx, "mouseup", CRATER_BUTTON)
    time.sleep(AFTER_RELEASE_S)
    after = screenshot(ctx)
    hole_green = count(held, GREEN, x - HOLE_REACH, y - HOLE_REACH, x + HOLE_REACH + 1,
                       y + HOLE_REACH + 1)
    held_below = count(held, BLACK, 0, y + BELOW_FROM, DRAWN_COLUMNS, WINDOW_HEIGHT)
    after_below = count(after, BLACK, 0, y + BELOW_FROM, DRAWN_COLUMNS, WINDOW_HEIGHT)
    loss = count(before, GREEN) - count(after, GREEN)
    settled = wait_settled(ctx, "crater_settled", " of the button's release (does erasing "
                           "go on?)")
    later_loss = count(after, GREEN) - count(settled, GREEN)
    seen = ("while held %d green px within %d px of the pointer; %d bare px from %d px "
            "under it down while held, %d after release; %d grains gone, %d more once "
            "settled" % (hole_green, HOLE_REACH, held_below, BELOW_FROM, after_below, loss,
                         later_loss))
    if hole_green:
        fail_with(ctx, "crater_held", held, "expected no green within %d px of the pointer "
                  "(%d, %d) while the button is held; %s" % (HOLE_REACH, x, y, seen))
    if held_below:
        fail_with(ctx, "crater_held", held, "expected the pile under the brush untouched "
                  "while the button is held; %s" % seen)
    if after_below or not CRATER_LOSS_MIN <= loss <= CRATER_LOSS_MAX:
        fail_with(ctx, "crater_after", after, "expected %d..%d grains wiped out, the pile "
                  "under the brush untouched; %s" % (CRATER_LOSS_MIN, CRATER_LOSS_MAX, seen))
    if later_loss > RELEASE_DRIFT_MAX:
        fail_with(ctx, "crater_settled", settled, "expected erasing to stop at release (at "
                  "most %d px of drift); %s" % (RELEASE_DRIFT_MAX, seen))
    return seen


def wait_hole(ctx, x, y, what):
    """Waits, button held, until no green is left within HOLE_REACH px of (x, y)."""
    deadline = time.monotonic() + HOLE_APPEAR_S
    while True:
        shot = screenshot(ctx)
        green = count(shot, GREEN, x - HOLE_REACH, y - HOLE_REACH, x + HOLE_REACH + 1,
                      y + HOLE_REACH + 1)
        if not green:
            return shot
        if time.monotonic() >= deadline:
            fail_with(ctx, what, shot, "expected no green within %d px of the pointer (%d, %d) "
                      "with the button held; %d green px after %d s"
                      % (HOLE_REACH, x, y, green, HOLE_APPEAR_S))


def check_drag(ctx):
    """Dragging with another button held erases under the pointer along the path."""
    pointer_to(ctx, DRAG_FROM, DRAG_ROW)
    wait_cross(ctx, DRAG_FROM, DRAG_ROW, "drag")
    before = wait_settled(ctx, "drag")
    button(ctx, "mousedown", DRAG_BUTTON)
    try:
        for x in range(DRAG_FROM, DRAG_TO + 1, DRAG_STEP):
            pointer_to(ctx, x, DRAG_ROW)
            if x in DRAG_CHECKPOINTS:
                wait_hole(ctx, x, DRAG_ROW, "drag_held")
    finally:
        button(ctx, "mouseup", DRAG_BUTTON)
    time.sleep(AFTER_RELEASE_S)
    after = screenshot(ctx)
    loss = count(before, GREEN) - count(after, GREEN)
    below = DRAG_ROW + BELOW_FROM
    below_bare = count(after, BLACK, 0, below, DRAWN_COLUMNS, WINDOW_HEIGHT)
    seen = ("bare under the pointer at x = %s; %d grains gone; %d bare px from row %d down"
            % (", ".join(map(str, DRAG_CHECKPOINTS)), loss, below_bare, below))
    if loss < DRAG_LOSS_MIN or below_bare:
        fail_with(ctx, "drag", after, "expected at least %d grains wiped out along the path "
                  "and the pile under it untouched; %s" % (DRAG_LOSS_MIN, seen))
    return seen


def check_close(ctx):
    """A window manager's close request ends the program with status 0."""
    run([ctx["wm_close"], ctx["window"]], ctx["env"])
    try:
        status = ctx["proc"].wait(timeout=CLOSE_S)
    except subprocess.TimeoutExpired:
        raise Failed("close: expected the program to end within %d s of WM_DELETE_WINDOW; "
                     "it is still running" % CLOSE_S)
    if status != 0:
        raise Failed("close: expected exit status 0 after WM_DELETE_WINDOW; got %d; stderr "
                     "ends with:\n%s" % (status, tail(ctx["err_path"])))
    errors = [line for line in tail(ctx["err_path"], 1000).splitlines()
              if line.startswith("vesk:")]
    if errors:
        raise Failed("close: expected no error from the program; it printed %s" % errors)
    return "ended with status 0"


def window_suite(args):
    name = "%s_%d" % (args.runtime, args.depth)
    ctx = {"name": name, "artifacts": args.artifacts, "wm_close": args.wm_close}
    ctx["err_path"] = os.path.join(args.artifacts, "e2e_%s_vesk.stderr" % name)
    xvfb = None
    ctx["proc"] = None
    started = time.monotonic()
    step = "start"
    try:
        env, directory = runtime_env(args.runtime, base_env())
        xvfb, display = start_xvfb(args.depth, os.path.join(args.artifacts,
                                                             "e2e_%s_xvfb.log" % name))
        env["DISPLAY"] = display
        ctx["env"] = env
        with open(ctx["err_path"], "w") as err:
            ctx["proc"] = subprocess.Popen([args.vesk], env=env, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=err)
        print("%s: Xvfb %s at depth %d, program pid %d" % (name, display, args.depth,
                                                           ctx["proc"].pid))
        steps = (("window", find_window),
                 ("runtime", lambda c: "loaded %s" % ", ".join(
                     check_runtime(c["proc"].pid, args.runtime, directory))),
                 ("pile", check_pile),
                 ("crosshair", check_crosshair),
                 ("keys", check_keys),
                 ("crater", check_crater),
                 ("drag", check_drag),
                 ("close", check_close))
        for step, check in steps:
            t = time.monotonic()
            seen = check(ctx)
            print("ok   %-9s (%.1f s) %s" % (step, time.monotonic() - t, seen))
        print("%s: all checks passed in %.1f s" % (name, time.monotonic() - started))
        return 0
    except Failed as failure:
        print("FAIL %s, at %s: %s" % (name, step, failure))
        if xvfb is not None and xvfb.poll() is not None:
            print("(Xvfb itself had ended, with status %d)" % xvfb.returncode)
        return 1
    finally:
        stop(ctx["proc"])
        stop(xvfb)


# ---------------------------------------------------------------- no display

def no_display_suite(args):
    """With no display the program prints one 'vesk: ' line and exits 1, on both runtimes.

    No video driver is named and TERM names a terminal: SDL's classic runtime
    would gladly fall back to drawing in the terminal (libcaca) and the
    SDL2-backed one to its offscreen driver; the program must refuse both."""
    failures = 0
    for runtime in ("classic", "compat"):
        try:
            env, _ = runtime_env(runtime, base_env())
            env["TERM"] = "xterm"
            started = time.monotonic()
            try:
                done = subprocess.run([args.vesk], env=env, stdin=subprocess.DEVNULL,
                                      capture_output=True, text=True, errors="replace",
                                      timeout=NO_DISPLAY_S)
            except subprocess.TimeoutExpired:
                raise Failed("expected the program to give up at once with no display; "
                             "still running after %d s" % NO_DISPLAY_S)
            took = time.monotonic() - started
            lines = done.stderr.splitlines()
            ours = [line for line in lines if line.startswith("vesk: ")]
            if done.returncode != 1 or len(ours) != 1 or done.stdout:
                raise Failed("expected exit status 1, one 'vesk: ' line on stderr and nothing "
                             "on stdout; got status %d, stdout %r, stderr lines %s"
                             % (done.returncode, done.stdout, lines))
            print("ok   no-display %s (%.1f s): status 1, %r" % (runtime, took, ours[0]))
        except Failed as failure:
            print("FAIL no-display %s: %s" % (runtime, failure))
            failures += 1
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description="End-to-end tests of vesk.")
    parser.add_argument("suite", choices=("window", "no-display"))
    parser.add_argument("--vesk", required=True)
    parser.add_argument("--wm-close")
    parser.add_argument("--runtime", choices=("classic", "compat"), default="classic")
    parser.add_argument("--depth", type=int, choices=(16, 24), default=24)
    parser.add_argument("--artifacts", default=".")
    args = parser.parse_args()
    args.vesk = os.path.abspath(args.vesk)
    os.makedirs(args.artifacts, exist_ok=True)
    if args.suite == "no-display":
        return no_display_suite(args)
    if not args.wm_close:
        parser.error("window needs --wm-close")
    args.wm_close = os.path.abspath(args.wm_close)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # so finally still ends Xvfb
    return window_suite(args)


if __name__ == "__main__":
    sys.exit(main())
