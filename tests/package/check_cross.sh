#!/bin/sh
# check_cross.sh: a cross build's program and package (the arm64 tree, label arm64).
#
#   check_cross.sh unfused TRIPLE FILE...     no FILE holds a fused multiply-add,
#                                             which TRIPLE-g++ makes when allowed to
#   check_cross.sh package DEB NATIVE_DEB     DEB is NATIVE_DEB but for the program:
#       the same paths, modes, owners and bytes, every control field but
#       Architecture, Installed-Size and Depends (which names the same packages);
#       lintian as on the release's package (it checks the program's processor
#       and stripping too). Installing it needs a system of its architecture.
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
    deb=$1 native=$2
    for d in "$deb" "$native"; do
        [ -f "$d" ] || fail "no $d (make arm64, make package)"
        w=$work/$(basename "$d")
        dpkg-deb -c "$d" | awk '{ print $1, $2, $6 }' | sort -k3 >"$w.list"
        mkdir "$w.files" && dpkg-deb -x "$d" "$w.files"
        dpkg-deb -f "$d" | grep -Ev '^(Architecture|Installed-Size|Depends):' >"$w.fields"
        dpkg-deb -f "$d" Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' | sort -u >"$w.depends"
    done
    a=$work/$(basename "$deb") n=$work/$(basename "$native") native=$(basename "$native")
    diff -u "$n.list" "$a.list" >&2 || fail "other paths, modes or owners than $native"
    diff -r "$n.files" "$a.files" | grep -v "^Binary files .*/usr/games/vesk differ$" >&2 &&
        fail "files differ from $native's but the program" || true
    diff -u "$n.fields" "$a.fields" >&2 || fail "control fields differ from $native's"
    diff -u "$n.depends" "$a.depends" >&2 || fail "Depends names other packages than $native's"
    [ "$(dpkg-deb -f "$deb" Architecture)" != "$(dpkg-deb -f "$2" Architecture)" ] ||
        fail "the same Architecture as $native"
    mkdir "$work/dist" && cp "$deb" "$work/dist/"
    "$(dirname "$0")/check_release.sh" lintian "$work" || exit 1
    echo "$(basename "$deb"): as $native but the program;" \
        "Depends: $(dpkg-deb -f "$deb" Depends); lintian clean"
    ;;
*) fail "unknown step" ;;
esac
