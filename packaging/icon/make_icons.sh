#!/bin/sh
# make_icons.sh: redraws Vesk's icons, and the README's picture, with the toy's own code.
#
#   packaging/icon/make_icons.sh [BUILD_DIR]      (default: build)
#
# Builds the vesk_icon tool in BUILD_DIR (configured already, as `make`
# leaves it), runs it into a temporary folder, and writes
# packaging/icons/vesk-N.png for every size it draws (N x N pixels, RGB,
# without time stamps, so a rerun writes the same bytes) and
# packaging/icons/vesk.svg, then the picture of the toy docs/vesk.png (the
# same way). Needs ImageMagick's convert. Run it after a change to the world's
# drawing and commit what it writes; the package test icons_current fails
# until then.
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
icons="$root/packaging/icons"

cmake --build "$build" --target vesk_icon
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/packaging/vesk_icon" "$work"
written=0
for bmp in "$work"/vesk-*.bmp; do
    name=$(basename "$bmp" .bmp)
    convert "$bmp" -strip -define png:exclude-chunks=date,time "PNG24:$icons/$name.png"
    written=$((written + 1))
done
cp "$work/vesk.svg" "$icons/vesk.svg"
echo "make_icons.sh: wrote $written PNGs and vesk.svg in packaging/icons"
"$build/packaging/vesk_icon" --picture "$work/picture.bmp"
convert "$work/picture.bmp" -strip -define png:exclude-chunks=date,time "PNG24:$root/docs/vesk.png"
echo "make_icons.sh: wrote docs/vesk.png"
