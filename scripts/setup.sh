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
#   fuzz  the toy's needs, and clang with libFuzzer and the sanitizer runtimes
#   web   the browser build and its tests: Emscripten, Chromium, Firefox ESR,
#         WebKitGTK's WebDriver (and its MiniBrowser), and what
#         `test` needs to build and screenshot the desktop program; Node.js
#         and npm too, when the machine has no node of its own
#   windows  the Windows build and its tests under Wine: mingw-w64, Wine,
#         NSIS, icoutils, zip, the GoogleTest sources, and what `test` needs
#         to run the desktop program beside it
# Uses apt-get, through sudo when not root. Prints nothing when all is there.
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
fuzz) packages="$packages clang libclang-rt-dev" ;;
bench) packages="$packages libgtest-dev libbenchmark-dev libsdl1.2-compat xvfb xauth xdotool x11-utils x11-xserver-utils python3 valgrind" ;;
web)
    packages="$packages libgtest-dev emscripten chromium firefox-esr webkit2gtk-driver xvfb xauth xdotool x11-utils imagemagick python3"
    # The machine's own Node.js (with its npm) serves; Debian's only stands in for a missing one.
    command -v node >/dev/null 2>&1 || packages="$packages nodejs"
    command -v npm >/dev/null 2>&1 || packages="$packages npm"
    ;;
windows)
    packages="$packages $test_packages g++-mingw-w64-x86-64-posix wine wine64 nsis icoutils zip
        googletest"
    ;;
*) echo "setup.sh: unknown purpose '$1' (run, test, bench, package, release, robust, fuzz, web or windows)" >&2; exit 2 ;;
esac

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
