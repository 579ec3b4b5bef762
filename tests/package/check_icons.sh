#!/bin/sh
# check_icons.sh: the committed icons, and the README's picture, are the ones
# the toy's code draws.
#
#   check_icons.sh VESK_ICON ICONS_DIR [PICTURE_PNG]
#
# Runs the vesk_icon tool into a temporary folder and checks, for every size
# it draws, that ICONS_DIR/vesk-N.png is N x N and equal to its drawing pixel
# for pixel, that no other PNG is there, and that ICONS_DIR/vesk.svg is the
# SVG it writes, byte for byte. Then checks what the picture shows, in every
# PNG and in the SVG rendered at 64 pixels with rsvg-convert: white at the
# X's centre, green at the foot of the pile, black in a top corner; and that
# the SVG's rendering is close to the 64-pixel PNG (root mean square error of
# the channels at most MAX_SVG_RMSE). With PICTURE_PNG, checks that it equals
# the picture `VESK_ICON --picture` draws, pixel for pixel and in size.
# Needs ImageMagick and librsvg2-bin.
# Fails after listing every difference found; make_icons.sh redraws them.
set -eu

[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: check_icons.sh VESK_ICON ICONS_DIR [PICTURE_PNG]" >&2; exit 2; }
tool=$1
icons=$2
picture=${3:-}
# Where the picture shows what, as fractions of the side (column, row).
X_CENTRE="0.5 0.27"
PILE_FOOT="0.5 0.95"
CORNER="0.06 0.06"
MAX_SVG_RMSE=0.15

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" "$work"

failed=0
fail() {
    echo "check_icons.sh: $*" >&2
    failed=1
}

# Colour of the pixel at fractions (fx, fy) of the side, as "R G B" in 0..255.
colour_at() {
    convert "$1" -format "%[fx:round(255*p{floor($2*w),floor($3*h)}.r)] \
%[fx:round(255*p{floor($2*w),floor($3*h)}.g)] %[fx:round(255*p{floor($2*w),floor($3*h)}.b)]" info:
}

# Checks that the picture has the X, the pile and the black ground.
check_picture() {
    # shellcheck disable=SC2086 # each place is two words, column and row
    set -- "$1" $X_CENTRE $PILE_FOOT $CORNER
    image=$1
    [ "$(colour_at "$image" "$2" "$3")" = "255 255 255" ] ||
        fail "$image: not white at the centre of the X"
    [ "$(colour_at "$image" "$4" "$5")" = "0 255 0" ] ||
        fail "$image: not green at the foot of the pile"
    [ "$(colour_at "$image" "$6" "$7")" = "0 0 0" ] ||
        fail "$image: not black in the top left corner"
}

for drawn in "$work"/vesk-*.bmp; do
    name=$(basename "$drawn" .bmp)
    size=${name#vesk-}
    png="$icons/$name.png"
    if [ ! -f "$png" ]; then
        fail "$png is missing"
        continue
    fi
    dims=$(identify -format '%wx%h' "$png")
    [ "$dims" = "${size}x${size}" ] || fail "$png is $dims, not ${size}x${size}"
    differing=$(compare -metric AE "$drawn" "$png" null: 2>&1) || true
    [ "$differing" = "0" ] || fail "$png differs from the drawing in $differing pixels"
    check_picture "$png"
done
for png in "$icons"/vesk-*.png; do
    [ -f "$work/$(basename "$png" .png).bmp" ] || fail "$png is not a size the tool draws"
done

if ! cmp -s "$work/vesk.svg" "$icons/vesk.svg"; then
    fail "$icons/vesk.svg differs from the SVG the tool writes"
fi
rsvg-convert -w 64 -h 64 -o "$work/svg-64.png" "$icons/vesk.svg"
check_picture "$work/svg-64.png"
rmse=$(compare -metric RMSE "$work/svg-64.png" "$icons/vesk-64.png" null: 2>&1 |
    sed -n 's/.*(\(.*\)).*/\1/p') || true
awk -v e="${rmse:-1}" -v m="$MAX_SVG_RMSE" 'BEGIN { exit !(e <= m) }' ||
    fail "vesk.svg rendered at 64 pixels is far from vesk-64.png (RMSE ${rmse:-unknown} > $MAX_SVG_RMSE)"

if [ -n "$picture" ]; then
    "$tool" --picture "$work/picture.bmp"
    want=$(identify -format '%wx%h' "$work/picture.bmp")
    dims=$(identify -format '%wx%h' "$picture" 2>/dev/null) || dims="unreadable"
    differing=$(compare -metric AE "$work/picture.bmp" "$picture" null: 2>&1) || true
    [ "$dims" = "$want" ] && [ "$differing" = "0" ] ||
        fail "$picture ($dims) differs from the picture drawn ($want) in $differing pixels"
fi

[ "$failed" -eq 0 ] || echo "check_icons.sh: redraw them with packaging/icon/make_icons.sh" >&2
exit "$failed"
