#!/usr/bin/env python3
# windows_installer.py --installer EXE --zip ZIP --version V --vesk PATH --wm-close PATH
#                      [--next-installer EXE --next-zip ZIP --next-version V]
# The Windows installer under Wine, in a new prefix: silent install, the installed program,
# with a next version's installer a silent upgrade to it (which must keep a file of the
# user's, leave one entry and none of the old files it does not ship), silent uninstall
# (which must keep the user's file alone); then no install outside Program Files, and an
# install, upgrade and uninstall in a folder holding the user's README.txt.
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import xharness as x  # noqa: E402

HOME, FOLDER = r"C:\Program Files\Vesk", "drive_c/Program Files/Vesk"
# Folders of the user's, in Program Files and outside it; the user's file in the first.
GAMES, OUTSIDE = "Program Files/Games", "users/Public/Vesk"  # in drive_c
USER_README = b"The user's own notes, not Vesk's.\r\n"
SETUP = "setup.exe"  # in drive_c: an installer run with /D
LINK = "drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vesk.lnk"
APPS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"  # the installed apps
KEY = APPS + r"\Vesk"
USER_FILE = "my notes.txt"
SETUP_S = 120  # an install or uninstall, with the copies of itself it starts
PAGE_S = 1  # for the installer's next page to show after a key


def entry_of(env):
    query = x.run(["wine", "reg", "query", KEY], env, check_status=False)
    return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\r?$", query, re.M))


def through_pages(env, installer, version):
    """Runs installer in a private Xvfb through its pages by keyboard, as a user would: I
    Agree (Alt+A) and Install (Enter) until version's entry is written, then Finish (Enter).
    Keys go again every PAGE_S, in case a page was not yet showing; none does harm elsewhere."""
    server = x.start_xvfb()
    shown = dict(env, DISPLAY=server.display)
    proc = subprocess.Popen(["wine", installer], env=shown, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + SETUP_S
    window = []
    try:
        for keys, what, done in (
                ((), "its window showed", lambda: window.extend(x.run(
                    ["xdotool", "search", "--onlyvisible", "--name", "^Vesk Setup"], shown,
                    check_status=False).split()) or window),
                (("alt+a", "Return"), "it wrote the entry of " + version,
                 lambda: entry_of(env).get("DisplayVersion") == version),
                (("Return",), "it ended", lambda: proc.poll() is not None)):
            while not done():
                x.check(proc.poll() is None and time.monotonic() < deadline, "by keyboard: the "
                        "installer %s before %s" % (x.status_text(proc.poll()) if proc.poll()
                                                    is not None else "still ran", what))
                for key in keys:
                    x.run(["xdotool", "windowfocus", window[0], "key", key], shown,
                          check_status=False)
                    time.sleep(PAGE_S)
                time.sleep(x.POLL_S)
        x.check(proc.returncode == 0, "by keyboard: the installer " + x.status_text(proc.returncode))
    finally:
        x.stop(proc)
        x.stop(server.proc)


def setup(env, installer, chosen):
    """Runs installer /S /D=C:\\chosen (unquoted, as /D must be: through cmd) until the prefix
    is idle; returns its exit status and the programs started but Wine's own and it."""
    shutil.copyfile(installer, os.path.join(env["WINEPREFIX"], "drive_c", SETUP))
    done = subprocess.run(["wine", "cmd", "/c", "C:\\%s /S /D=C:\\%s" % (SETUP, chosen.replace(
        "/", "\\"))], env=dict(env, WINEDEBUG="+process"), capture_output=True, text=True,
        errors="replace", timeout=SETUP_S, stdin=subprocess.DEVNULL)
    x.run(["wineserver", "--wait"], env, SETUP_S)
    started = re.findall(r'NtCreateUserProcess .* image L"C:\\\\(.*?)"', done.stderr)
    return done.returncode, [p for p in started if not re.match(r"(?i)windows\\|%s$" % SETUP, p)]


def state(env, argv, typed=None, home=HOME, folder=FOLDER):
    """Runs argv under Wine until its prefix is idle (typed: the installer of that version,
    through its pages by keyboard; a callable: itself); returns the install folder's files
    {name: bytes}, whether the Start-menu shortcut names vesk.exe, and the uninstall entry."""
    if callable(argv):
        argv()
    elif typed:
        through_pages(env, argv[0], typed)
    else:
        x.run(["wine"] + argv, env, SETUP_S)
    x.run(["wineserver", "--wait"], env, SETUP_S)
    folder, link = (os.path.join(env["WINEPREFIX"], p) for p in (folder, LINK))
    files = {n: open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder)} \
        if os.path.isdir(folder) else {}
    linked = os.path.exists(link) and (home + r"\vesk.exe").encode() in open(link, "rb").read()
    return files, linked, entry_of(env)


def installed(env, installer, zip_path, version, kept=(), typed=False, run=None, home=HOME,
              folder=FOLDER):
    """Runs installer /S (typed: by keyboard; run: that instead); checks for the zip's files,
    Uninstall.exe, the files kept, the shortcut and one uninstall entry of version, in home."""
    with zipfile.ZipFile(zip_path) as z:
        shipped = {os.path.basename(n): z.read(n) for n in z.namelist() if n[-1] != "/"}
    files, linked, entry = state(env, run or [installer] + ([] if typed else ["/S"]),
                                 version if typed else None, home, folder)
    want = {"DisplayName": "Vesk", "DisplayVersion": version, "DisplayIcon": home +
            r"\vesk.exe,0", "Publisher": "The Vesk developers", "UninstallString":
            '"%s\\Uninstall.exe"' % home, "InstallLocation": home}
    entries = len(re.findall(r"^\s+DisplayName\s+REG_SZ\s+Vesk\r?$", x.run(
        ["wine", "reg", "query", APPS, "/s"], env), re.M))
    x.check(set(files) == set(shipped) | {"Uninstall.exe"} | set(kept) and linked and
            all(files[n] == shipped[n] for n in shipped) and want.items() <= entry.items() and
            entries == 1, "expected the zip's %s, Uninstall.exe, %s, the shortcut and one entry %s; "
            "got %s, shortcut %s, %d entries, %s" % (sorted(shipped), list(kept), want,
                                                    sorted(files), linked, entries, entry))
    return "%s, the shortcut, the entry %s" % (sorted(files), sorted(entry))


def install(args, env):
    x.wine_prefix(env)
    return installed(env, args.installer, args.zip, args.version)


def upgrade(args, env, typed=False):
    """The next version over this one: none of this one's files it does not ship."""
    open(os.path.join(os.path.dirname(args.exe), USER_FILE), "w").close()
    with zipfile.ZipFile(args.zip) as old, zipfile.ZipFile(args.next_zip) as new:
        x.check(set(old.namelist()) - set(new.namelist()), "the next version drops no file")
    if typed:
        installed(env, args.installer, args.zip, args.version, [USER_FILE])
    return installed(env, args.next_installer, args.next_zip, args.next_version, [USER_FILE],
                     typed)


def upgrade_by_keyboard(args, env):
    """This version again, then the next one over it through its pages by keyboard."""
    return upgrade(args, env, typed=True)


def installed_program(args, env):
    server = x.start_xvfb()
    p = x.start(args, "wine", server.display, {"WINEPREFIX": env["WINEPREFIX"]}, name="installed")
    try:
        return "; ".join(step(p) for step in (x.find_window, x.check_pile, x.close))
    finally:
        x.kill(p)
        x.stop(server.proc)


def uninstall(args, env):
    open(os.path.join(os.path.dirname(args.exe), USER_FILE), "w").close()
    files, linked, entry = state(env, [os.path.join(os.path.dirname(args.exe), "Uninstall.exe"),
                                       "/S"])
    x.check(files == {USER_FILE: b""} and not linked and not entry, "expected only %r left; "
            "got %s, shortcut %s, entry %s" % (USER_FILE, sorted(files), linked, entry))


def beside_users_files(args, env):
    """Outside Program Files, which standard users may change: nothing installed. In a
    folder holding the user's README.txt: a folder Vesk of its own there; the upgrade (to
    the next version, else this one again) runs nothing but Windows' own programs; the
    uninstall leaves the folder as it was."""
    status, _ = setup(env, args.installer, OUTSIDE)
    x.check(status != 0 and not os.path.exists(os.path.join(env["WINEPREFIX"], "drive_c",
            OUTSIDE)) and not entry_of(env), "installed outside Program Files: " + OUTSIDE)
    games = os.path.join(env["WINEPREFIX"], "drive_c", GAMES)
    os.makedirs(games)
    readme = os.path.join(games, "README.txt")
    open(readme, "wb").write(USER_README)
    home, folder = "C:\\%s\\Vesk" % GAMES.replace("/", "\\"), "drive_c/%s/Vesk" % GAMES
    newer = ((args.next_installer, args.next_zip, args.next_version) if args.next_installer
             else (args.installer, args.zip, args.version))
    for when, (installer, zip_path, version) in (("install", (args.installer, args.zip,
                                                  args.version)), ("upgrade", newer)):
        ran = []
        installed(env, installer, zip_path, version, home=home, folder=folder,
                  run=lambda: ran.extend(setup(env, installer, GAMES)[1]))
        x.check(not ran and sorted(os.listdir(games)) == ["README.txt", "Vesk"] and
                open(readme, "rb").read() == USER_README, "%s: ran %s; the user's folder "
                "holds %s" % (when, ran, sorted(os.listdir(games))))
    state(env, [os.path.join(env["WINEPREFIX"], folder, "Uninstall.exe"), "/S"], home=home,
          folder=folder)
    x.check(os.listdir(games) == ["README.txt"] and open(readme, "rb").read() == USER_README and
            not entry_of(env), "uninstalled: the user's folder holds %s" % os.listdir(games))
    return "in %s, the user's README.txt kept" % home


def main():
    parser = x.arguments("The Windows installer and zip under Wine.", ("wine",))
    for option in ("--installer", "--zip", "--version"):
        parser.add_argument(option, required=True)
    for option in ("--next-installer", "--next-zip", "--next-version"):
        parser.add_argument(option)
    args, results = parser.parse_args(), []
    cases = (install, installed_program) + ((upgrade, uninstall, upgrade_by_keyboard)
                                             if args.next_installer else ()) + (
        uninstall, beside_users_files)
    with tempfile.TemporaryDirectory(prefix="vesk-installer-") as prefix:
        env = x.environment("wine", extra=dict(x.WINE_ENVIRONMENT, WINEPREFIX=prefix))
        args.exe = os.path.join(prefix, FOLDER, "vesk.exe")
        try:
            for number, case in enumerate(cases):
                name = case.__name__ + ("_again" if case in cases[:number] else "")
                x.run_case(results, name, case, args, env)
        finally:
            x.run(["wineserver", "--kill"], env, check_status=False)
    return x.report(results)


if __name__ == "__main__":
    sys.exit(main())
