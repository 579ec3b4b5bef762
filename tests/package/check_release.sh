#!/bin/sh
# check_release.sh: the artifacts packaging/release.sh makes for `make release`.
#
#   check_release.sh make OUT VERSION BUILD_DIR SOURCE_DIR
#   check_release.sh lintian|tarball|checksums OUT VERSION
#
# make: the package of BUILD_DIR (cpack) and a stand-in for the built page
#   (its three files among the build system's and the timing page's) through
#   release.sh into OUT/dist. lintian: no error and no warning on the package.
# tarball: vesk-VERSION.tar.gz holds vesk-VERSION/ alone and no .git; it
#   builds the program while git fails, and the program runs (dummy driver).
# checksums: OUT/dist holds the package of VERSION, the page's zip (its three
#   files alone), the tarball and SHA256SUMS, which names and matches the rest.
set -eu

step=$1
dist="$2/dist"
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check_release.sh $step: $*" >&2
    exit 1
}

case "$step" in
make)
    rm -rf "$2" && mkdir -p "$2/deb" "$2/web/CMakeFiles"
    cpack -G DEB --config "$4/CPackConfig.cmake" -B "$2/deb" >"$2/cpack.log" 2>&1 ||
        { cat "$2/cpack.log" >&2; fail "cpack failed"; }
    for file in index.html index.js index.wasm bench.html bench.js bench.wasm CMakeCache.txt \
        Makefile CMakeFiles/progress.marks; do echo "$file" >"$2/web/$file"; done
    "$(dirname "$0")/../../packaging/release.sh" "$version" "$dist" "$5" "$2"/deb/vesk_*.deb "$2/web"
    ;;
lintian)
    lintian --fail-on error,warning "$dist"/vesk_*.deb >"$work/tags" 2>&1 ||
        { cat "$work/tags" >&2; fail "lintian reports errors or warnings"; }
    ;;
tarball)
    tar -tzf "$dist/vesk-$version.tar.gz" >"$work/list"
    ! grep -v "^vesk-$version/" "$work/list" || fail "paths outside vesk-$version/"
    ! grep "^vesk-$version/\.git\(/\|$\)" "$work/list" || fail "the tarball holds .git"
    tar -xzf "$dist/vesk-$version.tar.gz" -C "$work"
    mkdir "$work/no-git"
    printf '#!/bin/sh\necho "git run by the build: $*"\nexit 1\n' >"$work/no-git/git"
    chmod +x "$work/no-git/git"
    tree="$work/vesk-$version"
    { PATH="$work/no-git:$PATH" cmake -S "$tree" -B "$tree/build" -DVESK_TESTS=OFF -DVESK_BENCH=OFF &&
        PATH="$work/no-git:$PATH" cmake --build "$tree/build" --target vesk -j 2; } >"$work/log" 2>&1 ||
        { tail -n 30 "$work/log" >&2; fail "the tarball does not build"; }
    ! grep 'git run by the build' "$work/log" || fail "the build ran git"
    status=0 # timeout's 124: still running after 3 s
    SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 3 "$tree/build/vesk" </dev/null || status=$?
    [ "$status" -eq 124 ] || fail "the program built from the tarball exited $status"
    ;;
checksums)
    deb=$(cd "$dist" && ls vesk_"$version"_*.deb) || fail "no package of version $version"
    [ "$(dpkg-deb -f "$dist/$deb" Version)" = "$version" ] || fail "$deb's Version is not $version"
    printf '%s\n' "$deb" "vesk-$version-web.zip" "vesk-$version.tar.gz" | sort >"$work/want"
    (cd "$dist" && ls -A | grep -vx SHA256SUMS | sort) | diff -u "$work/want" - >&2 ||
        fail "dist/ holds other files (- wanted, + there)"
    sed 's/^[0-9a-f]\{64\}  //' "$dist/SHA256SUMS" | sort | diff -u "$work/want" - >&2 ||
        fail "SHA256SUMS does not name each artifact once"
    (cd "$dist" && sha256sum --quiet -c SHA256SUMS) >&2 || fail "SHA256SUMS does not match"
    printf "vesk-$version-web/%s\n" "" index.html index.js index.wasm | sort >"$work/page"
    unzip -Z1 "$dist/vesk-$version-web.zip" | sort | diff -u "$work/page" - >&2 ||
        fail "the page's zip holds other files"
    ;;
*) fail "unknown step" ;;
esac
