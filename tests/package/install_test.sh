#!/bin/sh
# install_test.sh: the Debian package from build to removal, on this machine.
#
#   tests/package/install_test.sh        (as root, or a user with sudo)
#
# Builds the package (`make package`), checks that its dependencies let
# either SDL 1.2 runtime satisfy it, installs it with apt-get, and checks:
#   - `vesk` on a user's PATH (Debian's default, USER_PATH: root's has no
#     /usr/games) is /usr/games/vesk, and `man -w 6 vesk` finds its page;
#   - the desktop entry's Exec line is `vesk`: run so by the X harness
#     (tests/xharness.py launch), the window titled "Vesk" appears, its
#     WM_CLASS is the entry's StartupWMClass, and a window manager's close
#     request (tests/e2e's wm_close) ends it with exit status 0;
#   - after `apt-get remove --purge`, dpkg knows no vesk, and no path that
#     `dpkg -L vesk` listed is left, but the folders that were there before.
# With NEXT_DEB set (a later version's package), upgrades to it with apt-get
# install before the removal: then dpkg knows that version alone, each of its
# paths is in place with its own bytes (dpkg --verify), and no path of the
# old version's that the new one does not ship is left.
# Refuses to start when a vesk package is installed already (the test would
# remove it). Every wait is bounded (APT_TIMEOUT_S, MAKE_TIMEOUT_S, the
# harness's own); on any failure the exit trap purges the package. Ends with
# a line 'N passed, N failed'.
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/$("$root/scripts/tree.sh" default)"
# Longest apt-get or make run, in seconds, and how long apt-get waits for its lock.
APT_TIMEOUT_S=600
MAKE_TIMEOUT_S=1200
APT_LOCK_WAIT_S=300

# The PATH /etc/profile gives users on Debian.
USER_PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
apt() {
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive timeout "$APT_TIMEOUT_S" \
        apt-get -y -q -o DPkg::Lock::Timeout="$APT_LOCK_WAIT_S" "$@"
}

passed=0
check_ok() {
    passed=$((passed + 1))
    echo "ok: $1"
}
fail() {
    echo "FAILED: $1" >&2
    echo "install_test: $passed passed, 1 failed"
    exit 1
}

# deb_paths DEB: every path the package DEB holds.
deb_paths() {
    dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||' | grep -v '^/*$'
}
# left_over KEPT...: the paths dpkg listed ($work/listed) that are still there
# but for those in the files KEPT, each after a space.
left_over() {
    while IFS= read -r path; do
        grep -qxF "$path" "$@" && continue
        if [ -e "$path" ] || [ -L "$path" ]; then printf ' %s' "$path"; fi
    done <"$work/listed"
}

work=$(mktemp -d)
installed=0
cleanup() {
    if [ "$installed" -eq 1 ]; then
        echo "install_test: removing the package after a failure" >&2
        apt remove --purge vesk >/dev/null 2>&1 || echo "install_test: could not remove vesk" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# ---- before: no vesk package, none of its files ----
if dpkg-query -W -f='${Status}' vesk 2>/dev/null | grep -qv 'not-installed'; then
    fail "a vesk package is installed already ($(dpkg-query -W -f='${Status}' vesk)); remove it first"
fi

timeout "$MAKE_TIMEOUT_S" make -C "$root" package >"$work/make.log" 2>&1 ||
    { tail -n 30 "$work/make.log" >&2; fail "make package"; }
set -- "$build"/vesk_*.deb
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    fail "make package left not exactly one $build/vesk_*.deb: $*"
fi
deb=$1
check_ok "make package wrote $(basename "$deb")"

# Either SDL 1.2 runtime satisfies it: never libsdl1.2debian alone.
depends=$(dpkg-deb -f "$deb" Depends)
case ", $depends," in
*", libsdl1.2debian (>= 1.2.15) | libsdl1.2-compat-shim,"*) ;;
*) fail "Depends does not offer both SDL 1.2 runtimes: $depends" ;;
esac
sdl_terms=$(echo "$depends" | tr ',' '\n' | grep -c 'libsdl1.2' || true)
[ "$sdl_terms" -eq 1 ] || fail "Depends names SDL 1.2 in $sdl_terms terms, not one: $depends"
case ", $depends" in *", libc6 (>= "*) ;; *) fail "Depends has no versioned libc6: $depends" ;; esac
case ", $depends" in *", libx11-6"*) ;; *) fail "Depends has no libx11-6 (the scale is read through Xlib): $depends" ;; esac
check_ok "Depends: $depends"

# Every path in the package, and which of them are there already (folders only, we hope).
deb_paths "$deb" >"$work/contents"
: >"$work/before"
while IFS= read -r path; do
    if [ -d "$path" ]; then
        echo "$path" >>"$work/before"
    elif [ -e "$path" ] || [ -L "$path" ]; then
        fail "$path is there before the package is installed"
    fi
done <"$work/contents"

# ---- install ----
installed=1
apt install --no-install-recommends "$deb" >"$work/apt-install.log" 2>&1 ||
    { tail -n 30 "$work/apt-install.log" >&2; fail "apt-get install $deb"; }
dpkg-query -W -f='${Status}' vesk | grep -q 'install ok installed' || fail "dpkg does not list vesk as installed"
dpkg -L vesk | grep -v '^/\.$' >"$work/listed"
check_ok "apt-get install of the package"

found=$(PATH=$USER_PATH command -v vesk || true)
[ "$found" = /usr/games/vesk ] || fail "vesk on a user's PATH is '$found', not /usr/games/vesk"
check_ok "vesk on a user's PATH is /usr/games/vesk"

page=$(MAN_DISABLE_SECCOMP=1 man -w 6 vesk 2>/dev/null || true)
[ "$page" = /usr/share/man/man6/vesk.6.gz ] || fail "man -w 6 vesk found '$page'"
check_ok "man finds /usr/share/man/man6/vesk.6.gz"

desktop=/usr/share/applications/vesk.desktop
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
[ "$exec_line" = vesk ] || fail "$desktop: Exec is '$exec_line', not vesk"
check_ok "the desktop entry starts vesk with no arguments"

# ---- run it as the launcher would, under the X harness's private Xvfb ----
(cd "$work" && PATH=$USER_PATH python3 "$root/tests/xharness.py" launch --vesk "$found" \
    --wm-close "$build/tests/e2e/wm_close" --wm-class "$wm_class" --artifacts "$work") >"$work/launch.log" 2>&1 ||
    { cat "$work/launch.log" >&2; fail "the desktop entry's vesk under the X harness"; }
# Each of the harness's checks (the window, its WM_CLASS, the close request) counts as one here.
while IFS= read -r line; do
    case "$line" in "PASS "*) check_ok "the desktop entry's vesk: ${line#PASS }" ;; esac
done <"$work/launch.log"

# ---- upgrade to the next version, when given ----
if [ -n "${NEXT_DEB:-}" ]; then
    next_version=$(dpkg-deb -f "$NEXT_DEB" Version) || fail "NEXT_DEB $NEXT_DEB is no package"
    apt install --no-install-recommends "$NEXT_DEB" >"$work/apt-upgrade.log" 2>&1 ||
        { tail -n 30 "$work/apt-upgrade.log" >&2; fail "apt-get install $NEXT_DEB"; }
    [ "$(dpkg-query -W -f='${Version} ${Status}' vesk)" = "$next_version install ok installed" ] ||
        fail "after the upgrade dpkg lists vesk $(dpkg-query -W -f='${Version} ${Status}' vesk)"
    dpkg -L vesk | grep -v '^/\.$' | sort >"$work/listed-next"
    deb_paths "$NEXT_DEB" | sort | diff -u - "$work/listed-next" >&2 ||
        fail "dpkg lists other paths than the next package holds"
    dpkg --verify vesk >"$work/verify" 2>&1 && [ ! -s "$work/verify" ] ||
        { cat "$work/verify" >&2; fail "files of $next_version not in place"; }
    left=$(left_over "$work/listed-next" "$work/before")
    [ -z "$left" ] || fail "left behind by the upgrade:$left"
    [ "$(sort "$work/listed" | comm -23 - "$work/listed-next" | wc -l)" -gt 0 ] ||
        fail "the next version drops no path: the upgrade removed nothing to check"
    mv "$work/listed-next" "$work/listed"
    check_ok "apt-get install upgraded to $next_version: its files alone, in place"
fi

# ---- remove, and look for what is left ----
apt remove --purge vesk >"$work/apt-remove.log" 2>&1 ||
    { tail -n 30 "$work/apt-remove.log" >&2; fail "apt-get remove --purge vesk"; }
installed=0
if dpkg-query -W -f='${Status}' vesk 2>/dev/null | grep -qv 'not-installed'; then
    fail "dpkg still knows vesk after the purge: $(dpkg-query -W -f='${Status}' vesk)"
fi
check_ok "apt-get remove --purge vesk"

left=$(left_over "$work/before")
[ -z "$left" ] || fail "left behind after removal:$left"
[ -s "$work/listed" ] || fail "dpkg -L vesk listed nothing"
check_ok "nothing the package installed is left ($(wc -l <"$work/listed") paths checked)"

echo "install_test: $passed passed, 0 failed"
