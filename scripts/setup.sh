#!/bin/sh
# Installs the Debian packages that are missing for a purpose:
#   run     the toy itself: compiler, CMake, SDL 1.2
#   test    also GoogleTest, Xvfb, xdotool, ImageMagick, both SDL 1.2 runtimes
#   robust  what test installs, and valgrind
#   fuzz    the toy's needs, and clang with libFuzzer and the sanitizer runtimes
#   bench   also Google Benchmark
# Uses apt-get, through sudo when not root. Prints nothing when all is there.
set -eu

packages="build-essential cmake pkg-config libsdl1.2-dev libsdl1.2debian"
case "${1:-run}" in
run) ;;
test) packages="$packages libgtest-dev libsdl1.2-compat xvfb xauth xdotool x11-utils imagemagick python3" ;;
robust) packages="$packages libgtest-dev libsdl1.2-compat xvfb xauth xdotool x11-utils imagemagick python3 valgrind" ;;
fuzz) packages="$packages clang libclang-rt-dev" ;;
bench) packages="$packages libgtest-dev libbenchmark-dev libsdl1.2-compat xvfb" ;;
*) echo "setup.sh: unknown purpose '$1' (run, test, robust, fuzz or bench)" >&2; exit 2 ;;
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
