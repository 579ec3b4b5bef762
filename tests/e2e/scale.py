#!/usr/bin/env python3
# scale.py: the window at the desktop's scale, in a private Xvfb of 3840 x 2160
# (tests/xharness.py), on each Linux runtime or (--runtime wine --exe PATH)
# vesk.exe with Wine's LogPixels at 192. docs/testing.md lists the checks.
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import xharness as xs  # noqa: E402

SCREEN = (3840, 2160)
BASE_DPI, HIGH_DPI = 96, 192
SCALE = HIGH_DPI // BASE_DPI
# (Xft.dpi or None, GDK_SCALE or None, the scale the window opens at)
OTHER_SCALES = ((144, None, 2), (None, "3", 3))
# Surface pixels where the X is looked for and the brush held.
CROSS_SPOT, CRATER_SPOT = (60, 100), (100, 150)
HOLE_REACH = 2
CRATER_HOLD_S = 0.5
# Resized to 1000 x 1000 the window shows 600 x 900 at (200, 50); window pixel
# MARGIN, left of the picture, reads as surface pixel MARGIN_CLAMPED.
RESIZED, RESIZED_SCALE, RESIZED_AT = (1000, 1000), 3, (200, 50)
MARGIN, MARGIN_CLAMPED = (100, 500), (0, 150)
WINE_DPI_KEY = r"HKCU\Control Panel\Desktop"


def inside(surface_xy, scale, at=(0, 0)):
    """The window pixel (scale x + 1, scale y + 1) of a surface pixel's square."""
    return tuple(a + scale * c + 1 for a, c in zip(at, surface_xy))


def cross_at(p, surface_xy, scale, at=(0, 0), window_xy=None, what="crosshair"):
    """Waits until the X stands at surface_xy (the pointer moved to window_xy first, if given)."""
    if window_xy:
        xs.pointer(p, *window_xy)

    def judge(shot):
        problem, text = xs.describe_cross(xs.unscale(p, shot, scale, *at, what=what), *surface_xy)
        return problem and "expected the X at surface pixel %s; %s" % (surface_xy, text)
    xs.wait_shot(p, what, xs.CROSS_WAIT_S, judge)
    return "X at %s" % (surface_xy,)


def opened(args, server, runtime, scale, extra=None, name=None):
    p = xs.start(args, runtime, server.display, extra=extra, name=name)
    xs.find_window(p, size=(scale * xs.WINDOW_WIDTH, scale * xs.WINDOW_HEIGHT))
    return p


def reference(args, server, runtime):
    """Today's window at 96 dpi, and its settled picture with the X at the pile's rest spot."""
    xs.desktop_dpi(server, BASE_DPI)
    p = opened(args, server, runtime, 1, name="scale_%s_96" % runtime)
    try:
        xs.cross_follows(p, *xs.PILE_REST, what="reference")
        args.today = xs.wait_settled(p, "reference")
        return "200x300, settled; " + xs.close(p)
    finally:
        xs.kill(p)


def other_scales(args, server, runtime):
    for dpi, variable, scale in OTHER_SCALES:
        xs.desktop_dpi(server, dpi)
        p = opened(args, server, runtime, scale, {"GDK_SCALE": variable} if variable else None)
        try:
            xs.close(p)
        finally:
            xs.kill(p)
    return "; ".join("%s: %d times" % ("Xft.dpi %d" % d if d else "GDK_SCALE=" + v, k)
                     for d, v, k in OTHER_SCALES)


def same_as_today(p):
    cross_at(p, xs.PILE_REST, SCALE, window_xy=inside(xs.PILE_REST, SCALE), what="pile")
    surface = xs.unscale(p, xs.wait_settled(p, "pile"), SCALE, what="pile")
    # Under Wine today's picture is the Linux program's, whose runtime may show a
    # colour a step off (the SDL2-backed one's green is 254): there each pixel's class.
    if p.runtime == "wine":
        differ = [i for i, c in enumerate(surface.cls) if c != p.today.cls[i]]
    else:
        differ = [i for i in range(surface.w * surface.h)
                  if surface.rgb[3 * i:3 * i + 3] != p.today.rgb[3 * i:3 * i + 3]]
    if differ:
        i = differ[0]
        xs.fail_with(p, "pile", surface, "expected today's picture shrunk by %d (%s); %d pixels "
                     "differ, the first at (%d, %d)" % (SCALE, xs.save_png(p, "today", p.today),
                                                        len(differ), i % surface.w, i // surface.w))
    return "crisp, and shrunk by %d the %d pixels are today's" % (SCALE, surface.w * surface.h)


def crater(p):
    x, y = CRATER_SPOT
    cross_at(p, CRATER_SPOT, SCALE, window_xy=inside(CRATER_SPOT, SCALE), what="crater")
    xs.xdo(p, "mousedown", 1)
    try:
        time.sleep(CRATER_HOLD_S)
        held = xs.unscale(p, xs.screenshot(p), SCALE, what="crater")
    finally:
        xs.xdo(p, "mouseup", 1)
    green = xs.count(held, xs.GREEN, x - HOLE_REACH, y - HOLE_REACH, x + HOLE_REACH + 1,
                     y + HOLE_REACH + 1)
    if green:
        xs.fail_with(p, "crater", held, "expected no green within %d px of surface pixel %s with "
                     "the button held at window pixel %s; %d green px" % (
                         HOLE_REACH, CRATER_SPOT, inside(CRATER_SPOT, SCALE), green))
    return "held at window %s: surface %s bare" % (inside(CRATER_SPOT, SCALE), CRATER_SPOT)


def resized(p):
    """Resized with the pointer still: the picture 3 times, centred; the X stays, then follows."""
    xs.xdo(p, "windowsize", p.window, *RESIZED)

    def laid_out(shot):
        if (shot.w, shot.h) != RESIZED:
            return "expected the window %dx%d; it is %dx%d" % (RESIZED + (shot.w, shot.h))
        try:
            xs.unscale(p, shot, RESIZED_SCALE, *RESIZED_AT, what="resized")
        except xs.Failure as failure:
            return str(failure)
    xs.wait_shot(p, "resized", xs.CROSS_WAIT_S, laid_out)
    seen = [cross_at(p, CRATER_SPOT, RESIZED_SCALE, RESIZED_AT, what="resized") + " still",
            cross_at(p, CROSS_SPOT, RESIZED_SCALE, RESIZED_AT,
                     inside(CROSS_SPOT, RESIZED_SCALE, RESIZED_AT), "resized_moved")]

    def clamped(shot):
        surface = xs.unscale(p, shot, RESIZED_SCALE, *RESIZED_AT, what="margin")
        white = [(i % surface.w, i // surface.w) for i, c in enumerate(surface.cls) if c == xs.WHITE]
        rows = [w[1] for w in white]
        return not (white and min(w[0] for w in white) == MARGIN_CLAMPED[0] and abs(
            (min(rows) + max(rows)) / 2 - MARGIN_CLAMPED[1]) <= xs.CROSS_CENTRE_SLACK) and \
            "expected the X's right half at surface %s with the pointer over the margin at %s" % (
                MARGIN_CLAMPED, MARGIN)
    xs.pointer(p, *MARGIN)
    xs.wait_shot(p, "margin", xs.CROSS_WAIT_S, clamped)
    return "%dx%d shows 600x900 at %s, %s; over the margin at %s: at %s" % (
        RESIZED + (RESIZED_AT, "; ".join(seen), MARGIN, MARGIN_CLAMPED))


def wine_dpi(args, dpi):
    env = dict(xs.environment("wine"), **xs.WINE_ENVIRONMENT)
    env["WINEPREFIX"] = os.path.join(os.path.dirname(os.path.abspath(args.exe)), xs.WINE_PREFIX)
    xs.wine_prefix(env)
    xs.run(["wine", "reg", "add", WINE_DPI_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d",
            str(dpi), "/f"], env, xs.WINE_PREFIX_S)
    xs.run(["wineserver", "--wait"], env, xs.WINE_PREFIX_S)


def suite(args, server, runtime, results):
    """At 96 dpi today's picture (under Wine, the Linux program's), the other scales (not
    under Wine), then at 192 dpi: the window, the pile, the brush, a resize (not under Wine:
    its own tests resize it) and the close."""
    name = "scale_%s" % runtime
    p = None
    try:
        if not xs.run_case(results, "%s today at %d dpi" % (name, BASE_DPI), reference, args,
                           server, "system" if runtime == "wine" else runtime):
            return
        if runtime == "wine":
            wine_dpi(args, HIGH_DPI)
        elif not xs.run_case(results, name + " sizes", other_scales, args, server, runtime):
            return
        xs.desktop_dpi(server, HIGH_DPI)
        p = xs.start(args, runtime, server.display, name=name)
        p.today = args.today
        steps = [("window", lambda p: xs.find_window(p, size=(SCALE * xs.WINDOW_WIDTH,
                                                              SCALE * xs.WINDOW_HEIGHT))),
                 ("pile", same_as_today), ("crater", crater)]
        steps += [("resized", resized)] if runtime != "wine" else []
        for step, check_step in steps + [("close", xs.close)]:
            if not xs.run_case(results, "%s %s" % (name, step), check_step, p):
                return
    finally:
        if p:
            xs.kill(p)
        if runtime == "wine":
            wine_dpi(args, BASE_DPI)


def main():
    parser = xs.arguments("The window at the desktop's scale.")
    args = parser.parse_args()
    if args.runtime in xs.LINUX_RUNTIMES:
        xs.runtime_or_skip(args.runtime, args.vesk)
    os.makedirs(args.artifacts, exist_ok=True)
    results = []
    server = xs.start_xvfb(size=SCREEN)
    try:
        xs.xdo(server, "mousemove", *SCREEN)
        suite(args, server, args.runtime, results)
    finally:
        xs.stop(server.proc)
    return xs.report(results)


if __name__ == "__main__":
    sys.exit(main())
