#!/bin/sh
# check_release.sh: the artifacts packaging/release.sh makes for `make release`.
#
#   check_release.sh make      OUT VERSION BUILD_DIR SOURCE_DIR
#   check_release.sh lintian   OUT VERSION
#   check_release.sh tarball   OUT VERSION
#   check_release.sh checksums OUT VERSION
#
# make: writes the Debian package from BUILD_DIR with cpack, a folder standing
#   in for the built page (its three files among the build system's files and
#   the timing page), and runs release.sh on them into OUT/dist.
# lintian: lintian reports no error and no warning on the package in OUT/dist.
# tarball: vesk-VERSION.tar.gz unpacks into vesk-VERSION/ alone, holds no
#   .git, builds the program with CMake while any use of git fails, and the
#   program runs (on the dummy video driver, for RUN_S seconds).
# checksums: OUT/dist holds exactly the package of VERSION, the page's zip,
#   the tarball and SHA256SUMS; SHA256SUMS names each of the others once and
#   matches it; the zip holds the page's three files and nothing else.
set -eu

[ $# -ge 3 ] || { echo "usage: check_release.sh make|lintian|tarball|checksums OUT VERSION ..." >&2; exit 2; }
step=$1
out=$2
version=$3
dist="$out/dist"
here=$(cd "$(dirname "$0")" && pwd)
RUN_S=3
# timeout's status when the program was still running.
STILL_RUNNING=124

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check_release.sh $step: $*" >&2
    exit 1
}

case "$step" in
make)
    build=$4
    source_dir=$5
    rm -rf "$out"
    mkdir -p "$out/deb" "$out/web/CMakeFiles"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out/deb" >"$out/cpack.log" 2>&1 ||
        { cat "$out/cpack.log" >&2; fail "cpack failed"; }
    for file in index.html index.js index.wasm bench.html bench.js bench.wasm CMakeCache.txt \
        Makefile cmake_install.cmake CMakeFiles/progress.marks; do
        echo "$file" >"$out/web/$file"
    done
    set -- "$out"/deb/vesk_*.deb
    "$here/../../packaging/release.sh" "$version" "$dist" "$source_dir" "$1" "$out/web"
    ;;
lintian)
    lintian --fail-on error,warning "$dist"/vesk_*.deb >"$work/tags" 2>&1 ||
        { cat "$work/tags" >&2; fail "lintian reports errors or warnings"; }
    grep -v 'running with root privileges' "$work/tags" || true
    ;;
tarball)
    tarball="$dist/vesk-$version.tar.gz"
    tar -tzf "$tarball" >"$work/list" || fail "$tarball does not unpack"
    outside=$(grep -cv "^vesk-$version/" "$work/list" || true)
    [ "$outside" -eq 0 ] || fail "$outside paths outside vesk-$version/"
    ! grep -q "^vesk-$version/\.git\(/\|$\)" "$work/list" || fail "the tarball holds .git"
    tar -xzf "$tarball" -C "$work"
    mkdir "$work/no-git"
    printf '#!/bin/sh\necho "git run from the unpacked tarball: $*" >&2\nexit 1\n' >"$work/no-git/git"
    chmod +x "$work/no-git/git"
    tree="$work/vesk-$version"
    {
        PATH="$work/no-git:$PATH" GIT_CEILING_DIRECTORIES="$work" \
            cmake -S "$tree" -B "$tree/build" -DVESK_TESTS=OFF -DVESK_BENCH=OFF &&
            PATH="$work/no-git:$PATH" cmake --build "$tree/build" --target vesk -j 2
    } >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log" >&2; fail "the tarball does not build"; }
    ! grep -q 'git run from the unpacked tarball' "$work/build.log" || fail "the build ran git"
    status=0
    SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout "$RUN_S" "$tree/build/vesk" \
        </dev/null >/dev/null 2>"$work/run.err" || status=$?
    [ "$status" -eq "$STILL_RUNNING" ] ||
        { cat "$work/run.err" >&2; fail "the program built from the tarball exited $status"; }
    ;;
checksums)
    set -- "$dist"/vesk_"$version"_*.deb
    [ -f "$1" ] || fail "no package vesk_${version}_ARCH.deb"
    deb=$(basename "$1")
    [ "$(dpkg-deb -f "$1" Version)" = "$version" ] || fail "$deb's Version is not $version"
    printf '%s\n' SHA256SUMS "$deb" "vesk-$version-web.zip" "vesk-$version.tar.gz" | sort >"$work/want"
    (cd "$dist" && ls -A) | sort >"$work/have"
    diff -u "$work/want" "$work/have" >&2 || fail "dist/ holds other files (- wanted, + there)"
    (cd "$dist" && sha256sum --quiet -c SHA256SUMS) >&2 || fail "SHA256SUMS does not match"
    sed 's/^[0-9a-f]\{64\}  //' "$dist/SHA256SUMS" | sort >"$work/summed"
    grep -vx SHA256SUMS "$work/want" | diff -u - "$work/summed" >&2 ||
        fail "SHA256SUMS does not name each artifact once"
    unzip -Z1 "$dist/vesk-$version-web.zip" | sort >"$work/zipped"
    printf "vesk-$version-web/%s\n" "" index.html index.js index.wasm | sort |
        diff -u - "$work/zipped" >&2 || fail "the page's zip holds other files"
    ;;
*) fail "unknown step" ;;
esac
