#!/bin/sh
# check_install.sh: what `cmake --install` puts where.
#
#   check_install.sh BUILD_DIR APPSTREAM_ID
#
# Installs BUILD_DIR (built already) with DESTDIR set to a temporary folder
# and the prefix /usr/local, and checks that exactly these files appear
# there, with these modes:
#   games/vesk                                   755, the program, runs
#   share/applications/vesk.desktop              644, valid, launches `vesk`
#   share/icons/hicolor/NxN/apps/vesk.png        644, N x N, N in ICON_SIZES_PX
#   share/icons/hicolor/scalable/apps/vesk.svg   644, an SVG
#   share/man/man6/vesk.6.gz                     644, the manual page
#   share/metainfo/ID.metainfo.xml               644, AppStream metadata (ID: APPSTREAM_ID)
#   share/doc/vesk/copyright                     644, with LICENSE's text
#   share/doc/vesk/changelog.gz                  644
# and that the program, run without a display, exits 1 with a 'vesk: ' line.
# Lists every fault found, then exits 1; exits 0 when there is none.
set -eu

[ $# -eq 2 ] || { echo "usage: check_install.sh BUILD_DIR APPSTREAM_ID" >&2; exit 2; }
build=$1
appstream_id=$2
here=$(cd "$(dirname "$0")" && pwd)
prefix=/usr/local
ICON_SIZES_PX="16 22 24 32 48 64 128 256"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/root" cmake --install "$build" --prefix "$prefix" >"$work/install.log"
root="$work/root$prefix"

failed=0
fail() {
    echo "check_install.sh: $*" >&2
    failed=1
}

expected="$work/expected"
{
    echo games/vesk
    echo share/applications/vesk.desktop
    for n in $ICON_SIZES_PX; do echo "share/icons/hicolor/${n}x${n}/apps/vesk.png"; done
    echo share/icons/hicolor/scalable/apps/vesk.svg
    echo share/man/man6/vesk.6.gz
    echo "share/metainfo/$appstream_id.metainfo.xml"
    echo share/doc/vesk/copyright
    echo share/doc/vesk/changelog.gz
} | sort >"$expected"
(cd "$work/root" && find . ! -type d | sed 's|^\.||' | sort) >"$work/found.abs"
sed "s|^|$prefix/|" "$expected" >"$work/expected.abs"
if ! diff -u "$work/expected.abs" "$work/found.abs" >"$work/diff"; then
    fail "installed files differ from the expected list (- expected, + installed):"
    cat "$work/diff" >&2
fi

mode() { stat -c %a "$1" 2>/dev/null || echo missing; }
while read -r file; do
    want=644
    [ "$file" = games/vesk ] && want=755
    got=$(mode "$root/$file")
    [ "$got" = "$want" ] || fail "$prefix/$file: mode $got, not $want"
done <"$expected"

# The launcher: valid, named Vesk, a game, starting the program with no arguments.
desktop="$root/share/applications/vesk.desktop"
"$here/quiet.sh" desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
value() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(value Name)" = Vesk ] || fail "desktop entry: Name is '$(value Name)', not Vesk"
[ "$(value Exec)" = vesk ] || fail "desktop entry: Exec is '$(value Exec)', not vesk"
[ "$(value Icon)" = vesk ] || fail "desktop entry: Icon is '$(value Icon)', not vesk"
case ";$(value Categories)" in *";Game;"*) ;; *) fail "desktop entry: Categories has no Game" ;; esac
[ -z "$(value NoDisplay)$(value Hidden)" ] || fail "desktop entry: hidden from the menu"

# The icons: the sizes their folders promise.
for n in $ICON_SIZES_PX; do
    png="$root/share/icons/hicolor/${n}x${n}/apps/vesk.png"
    [ -f "$png" ] || continue
    dims=$(identify -format '%wx%h' "$png")
    [ "$dims" = "${n}x${n}" ] || fail "${n}x${n}/apps/vesk.png is $dims"
done
svg="$root/share/icons/hicolor/scalable/apps/vesk.svg"
[ ! -f "$svg" ] || grep -q '<svg ' "$svg" || fail "scalable/apps/vesk.svg is not an SVG"

# The manual page: compressed, and it renders without warnings.
page="$root/share/man/man6/vesk.6.gz"
if [ -f "$page" ]; then
    gzip -t "$page" || fail "man6/vesk.6.gz is not gzip data"
    "$here/check_manual_page.sh" "$page" || fail "man6/vesk.6.gz does not render cleanly"
fi

# The copyright file carries LICENSE's text (lintian checks its format and the changelog).
sed -n '/^Permission/,$p' "$here/../../LICENSE" >"$work/licence"
sed -n 's/^ //; s/^\.$//; /^Permission/,/^SOFTWARE\.$/p' "$root/share/doc/vesk/copyright" |
    diff -u "$work/licence" - >&2 || fail "doc/vesk/copyright's licence text differs from LICENSE"

# The program: an executable that links and starts; asked for an X11 window
# with no display it says why on one line. (Left to choose, SDL 1.2 may fall
# back to a terminal or off-screen driver and run instead.)
vesk="$root/games/vesk"
if [ -x "$vesk" ]; then
    status=0
    env -u DISPLAY SDL_VIDEODRIVER=x11 timeout 10 "$vesk" </dev/null >"$work/out" 2>"$work/err" ||
        status=$?
    [ "$status" -eq 1 ] || fail "games/vesk without a display exited $status, not 1"
    grep -q '^vesk: ' "$work/err" || fail "games/vesk without a display did not say 'vesk: ...'"
fi

exit "$failed"
