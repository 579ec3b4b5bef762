#!/usr/bin/env python3
# windows_installer.py: the Windows installer and portable zip under Wine, in
# a prefix made for the run (tests/xharness.py runs the installed program).
#
#   windows_installer.py --installer EXE --zip ZIP --version V --vesk PATH --wm-close PATH
#
# In order: a silent install puts the zip's files, the uninstaller and the
# Start-menu shortcut in place and writes the uninstall entry; the installed
# vesk.exe shows the settled pile and ends at a close request; a silent
# uninstall removes all of those and keeps a file of the user's.
import os
import re
import sys
import tempfile
import zipfile

sys.path[:0] = [os.path.join(os.path.dirname(os.path.abspath(__file__)), d) for d in ("..", "../e2e")]
import e2e  # noqa: E402
import xharness  # noqa: E402
from xharness import Failure, check  # noqa: E402

INSTALL_DIR = ("drive_c", "Program Files", "Vesk")
SHORTCUT = ("drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", "Vesk.lnk")
PROGRAM_PATH = rb"C:\Program Files\Vesk\vesk.exe"
UNINSTALLER_PATH = r"C:\Program Files\Vesk\Uninstall.exe"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vesk"
UNINSTALLER = "Uninstall.exe"
USER_FILE = "my notes.txt"
SETUP_S = 120  # an install or uninstall, its copies of itself included


def wine(env, *argv):
    """Runs a Windows program and waits for every process of the prefix to end."""
    xharness.run(["wine"] + list(argv), env, SETUP_S)
    xharness.run(["wineserver", "--wait"], env, SETUP_S)


def entry(env):
    """The uninstall entry's values by name; {} when there is none."""
    text = xharness.run(["wine", "reg", "query", UNINSTALL_KEY], env, check_status=False)
    return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\r?$", text, re.M))


def suite(args, prefix):
    env = xharness.environment("wine", extra=dict(xharness.WINE_ENVIRONMENT, WINEPREFIX=prefix))
    xharness.wine_prefix(env)
    folder, shortcut = os.path.join(prefix, *INSTALL_DIR), os.path.join(prefix, *SHORTCUT)
    with zipfile.ZipFile(args.zip) as z:
        shipped = {os.path.basename(n): z.read(n) for n in z.namelist() if not n.endswith("/")}

    wine(env, args.installer, "/S")
    installed = {n: open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)}
    check(set(installed) == set(shipped) | {UNINSTALLER} and
          all(installed[n] == shipped[n] for n in shipped) and
          shipped["LICENSE.txt"].startswith(b"MIT License\r\n"),
          "install: expected the zip's files (%s, the MIT licence) and %s; got %s"
          % (sorted(shipped), UNINSTALLER, sorted(installed)))
    check(os.path.exists(shortcut) and PROGRAM_PATH in open(shortcut, "rb").read(),
          "install: expected the shortcut %s to %s" % (shortcut, PROGRAM_PATH.decode()))
    want = {"DisplayName": "Vesk", "DisplayVersion": args.version,
            "Publisher": "The Vesk developers", "DisplayIcon": PROGRAM_PATH.decode() + ",0",
            "UninstallString": '"%s"' % UNINSTALLER_PATH}
    got = entry(env)
    check(all(got.get(k) == v for k, v in want.items()),
          "install: expected the uninstall entry %s; got %s" % (want, got))
    print("ok   install: %s, the shortcut, the entry %s" % (sorted(installed), sorted(got)))

    server = xharness.start_xvfb()
    args.exe = os.path.join(folder, "vesk.exe")
    p = xharness.start(args, "wine", server.display, extra={"WINEPREFIX": prefix},
                       name="installed")
    try:
        for step in (xharness.find_window, e2e.check_pile, xharness.close):
            print("ok   installed vesk.exe: %s" % step(p))
    finally:
        xharness.kill(p)
        xharness.stop(server.proc)

    with open(os.path.join(folder, USER_FILE), "w") as f:
        f.write("mine\n")
    wine(env, os.path.join(folder, UNINSTALLER), "/S")
    left = os.listdir(folder)
    check(left == [USER_FILE] and not os.path.exists(shortcut) and not entry(env),
          "uninstall: expected only %r left, no shortcut, no entry; got %s, shortcut %s, "
          "entry %s" % (USER_FILE, left, os.path.exists(shortcut), entry(env)))
    print("ok   uninstall: left %s, removed the shortcut and the entry" % left)


def main():
    parser = xharness.arguments("The Windows installer under Wine.", ("wine",))
    parser.add_argument("--installer", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    for path in (args.installer, args.zip):
        if not os.path.exists(path):
            print("FAIL: no %s: build it with make windows" % path)
            return 1
    with tempfile.TemporaryDirectory(prefix="vesk-installer-") as prefix:
        try:
            suite(args, prefix)
            return 0
        except Failure as failure:
            print("FAIL %s" % failure)
            return 1
        finally:
            xharness.run(["wineserver", "--kill"], dict(os.environ, WINEPREFIX=prefix),
                         check_status=False)


if __name__ == "__main__":
    sys.exit(main())
