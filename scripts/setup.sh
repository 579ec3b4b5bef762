#!/bin/sh
# Installs the Debian packages that are missing for a purpose:
#   run   the toy itself: compiler, CMake, SDL 1.2, Xlib
#   test  also GoogleTest, Xvfb, xdotool, xrdb, ImageMagick, both SDL 1.2 runtimes,
#         the checkers of the desktop entry, the manual page, the AppStream
#         metadata and the Debian package, rsvg-convert, zip
#   bench also Google Benchmark, valgrind, Xvfb, xdotool, xrdb and Python 3
#   package  what test installs, and dpkg-dev for the Debian package
#   release  what package installs, and what checks a release: diffoscope
#         (its minimal set), osslsigncode, gnupg, openssl (the builds of the
#         page and of Windows install their own)
#   robust   what test installs, and valgrind
#   fuzz  the toy's needs, clang with libFuzzer and the sanitizer runtimes, and
#         both SDL 1.2 runtimes with Python 3 (to run the targets on each)
#   web   the browser build, and serving it: Emscripten; Node.js and npm
#         too, when the machine has no node of its own
#   browsers  also the page's tests and timings: Chromium, Firefox ESR,
#         WebKitGTK's WebDriver (and its MiniBrowser), and what `test` needs
#         to build and screenshot the desktop program
#   windows  the Windows build and its tests under Wine: mingw-w64, Wine,
#         NSIS, icoutils, zip, the GoogleTest sources, and what `test` needs
#         to run the desktop program beside it
#   roots the Debian roots the Debian 13 step of CI makes: mmdebstrap
#   arm64 the arm64 build and its tests: what package installs, the cross
#         compiler, mmdebstrap (its sysroot and runtime roots) and qemu-user
# Uses apt-get, through sudo when not root. Prints nothing when all is there.
# A package this system's archive does not have is named, and the rest are
# installed: what needs it says so when it runs (a browser test skips its
# engine). On a system without apt-get it installs nothing: it says what the
# purpose needs (by Debian's names) and lets the command go on, so that a
# build with those installed by hand proceeds.
set -eu

packages="build-essential cmake pkg-config libsdl1.2-dev libsdl1.2debian libx11-dev"
test_packages="libgtest-dev libsdl1.2-compat xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick python3
    desktop-file-utils groff-base man-db mandoc librsvg2-bin appstream lintian zip unzip"
case "${1:-run}" in
run) ;;
test) packages="$packages $test_packages" ;;
package) packages="$packages $test_packages dpkg-dev" ;;
release) packages="$packages $test_packages dpkg-dev diffoscope-minimal osslsigncode gnupg openssl" ;;
robust) packages="$packages $test_packages valgrind" ;;
fuzz) packages="$packages clang libclang-rt-dev libsdl1.2-compat python3" ;;
bench) packages="$packages libgtest-dev libbenchmark-dev libsdl1.2-compat xvfb xauth xdotool x11-utils x11-xserver-utils python3 valgrind" ;;
web | browsers)
    packages="$packages emscripten"
    if [ "$1" = browsers ]; then
        packages="$packages libgtest-dev chromium firefox-esr webkit2gtk-driver xvfb xauth xdotool
            x11-utils imagemagick python3"
    fi
    # The machine's own Node.js (with its npm) serves; Debian's only stands in for a missing one.
    command -v node >/dev/null 2>&1 || packages="$packages nodejs"
    command -v npm >/dev/null 2>&1 || packages="$packages npm"
    ;;
windows)
    packages="$packages $test_packages g++-mingw-w64-x86-64-posix wine wine64 nsis icoutils zip
        googletest"
    ;;
roots) packages="mmdebstrap" ;;
arm64) packages="$packages $test_packages dpkg-dev g++-aarch64-linux-gnu mmdebstrap qemu-user" ;;
*) echo "setup.sh: unknown purpose '$1' (run, test, bench, package, release, robust, fuzz, web," \
    "browsers, windows, roots or arm64)" >&2; exit 2 ;;
esac

if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
    # shellcheck disable=SC2086
    cat >&2 <<END
setup.sh: this system has no apt-get, so nothing is installed for '${1:-run}'.
  The toy needs a C++17 compiler, CMake 3.25 or later, pkg-config and SDL 1.2's
  headers (sdl12-compat's development package on Fedora, Arch and most others);
  the README's "Other systems" says how to build it. By Debian's names,
  '${1:-run}' wants: $(echo $packages)
  Going on with what is installed.
END
    exit 0
fi

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
available=""
absent=""
for p in $missing; do
    if apt-cache policy "$p" 2>/dev/null | grep -q 'Candidate: [^(]'; then
        available="$available $p"
    else
        absent="$absent $p"
    fi
done
if [ -n "$absent" ]; then
    echo "setup.sh: not in this system's archive, so left out:$absent" >&2
fi
[ -n "$available" ] || exit 0
echo "Installing:$available"
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $available
