#!/bin/sh
# check_cross.sh: a cross build's program and package (the arm64 tree, label arm64).
#
#   check_cross.sh unfused TRIPLE FILE...
#   check_cross.sh package DEB NATIVE_DEB TRIPLE
#
# unfused: TRIPLE-g++ turns a * b + c into a fused multiply-add when allowed
#   to (so the pattern below sees what it emits), and no FILE (the programs,
#   the core library) holds one: the build rounds every float operation as
#   written, as this machine's does.
# package: DEB has NATIVE_DEB's layout and metadata: the same paths, modes
#   and owners, the same bytes in every file but the program, every control
#   field the same but Architecture, Installed-Size and Depends, which names
#   the same packages; lintian as on the release's package (check_release.sh);
#   the program is for TRIPLE's processor, stripped, with Debian's loader.
# What this cannot check is installing it: that needs a system of DEB's
# architecture.
set -eu

step=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check_cross.sh $step: $*" >&2
    exit 1
}
# Fused multiply-add and multiply-subtract, scalar (fmadd ...) and vector (fmla, fmls).
FUSED='[[:space:]](fn?m(add|sub)|fml[as])[[:space:]]'

case "$step" in
unfused)
    triple=$1
    shift
    printf 'double f(double a, double b, double c) { return a * b + c; }\n' >"$work/probe.cpp"
    "$triple-g++" -O2 -ffp-contract=fast -c "$work/probe.cpp" -o "$work/probe.o"
    "$triple-objdump" -d "$work/probe.o" | grep -Eq "$FUSED" ||
        fail "the probe compiled with -ffp-contract=fast shows no fused instruction"
    for file in "$@"; do
        "$triple-objdump" -d "$file" | grep -E "$FUSED" >"$work/fused" || true
        [ ! -s "$work/fused" ] || { head "$work/fused" >&2; fail "fused multiply-add in $file"; }
    done
    echo "no fused multiply-add in $*"
    ;;
package)
    deb=$1 native=$2 triple=$3
    for d in "$deb" "$native"; do
        [ -f "$d" ] || fail "no $d (make arm64, make package)"
        dpkg-deb -c "$d" | awk '{ print $1, $2, $6 }' | sort -k3 >"$work/$(basename "$d").list"
        mkdir "$work/$(basename "$d").files" && dpkg-deb -x "$d" "$work/$(basename "$d").files"
        dpkg-deb -f "$d" | grep -Ev '^(Architecture|Installed-Size|Depends):' >"$work/$(basename "$d").fields"
        dpkg-deb -f "$d" Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' | sort -u >"$work/$(basename "$d").depends"
    done
    a=$work/$(basename "$deb") n=$work/$(basename "$native")
    diff -u "$n.list" "$a.list" >&2 || fail "other paths, modes or owners than $(basename "$native")"
    diff -r "$n.files" "$a.files" | grep -v "^Binary files .*/usr/games/vesk differ$" >&2 &&
        fail "files differ from $(basename "$native")'s but the program" || true
    diff -u "$n.fields" "$a.fields" >&2 || fail "control fields differ from $(basename "$native")'s"
    diff -u "$n.depends" "$a.depends" >&2 || fail "Depends names other packages than $(basename "$native")'s"
    [ "$(dpkg-deb -f "$deb" Architecture)" != "$(dpkg-deb -f "$native" Architecture)" ] ||
        fail "the same Architecture as $(basename "$native")"
    program=$a.files/usr/games/vesk
    machine() { "$triple-readelf" -h "$1" | sed -n 's/^ *Machine: *//p'; }
    echo 'int x;' | "$triple-gcc" -x c -c - -o "$work/probe.o"
    [ "$(machine "$program")" = "$(machine "$work/probe.o")" ] ||
        fail "the program is for $(machine "$program"), not $(machine "$work/probe.o")"
    "$triple-readelf" -lS "$program" >"$work/sections"
    ! grep -q ' \.symtab ' "$work/sections" || fail "the program is not stripped"
    grep -q "interpreter: /lib/ld-linux-" "$work/sections" || fail "the program has no Debian loader"
    mkdir "$work/dist" && cp "$deb" "$work/dist/"
    "$(dirname "$0")/check_release.sh" lintian "$work" || exit 1
    echo "$(basename "$deb") ($(machine "$program")): as $(basename "$native") but the program;" \
        "Depends: $(dpkg-deb -f "$deb" Depends); lintian clean"
    ;;
*) fail "unknown step" ;;
esac
