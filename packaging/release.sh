#!/bin/sh
# release.sh: gathers one release's artifacts into a folder and checksums them.
#
#   release.sh VERSION DIST SOURCE_DIR DEB WEB_DIR [WINDOWS_DIR]
#
# VERSION is CMake's project version (the caller reads it from CMake). Empties
# DIST, then writes there:
#   DEB's name                  the Debian package, copied
#   vesk-VERSION-web.zip        the page, in a folder vesk-VERSION-web/: the
#                               files a static host serves from the top of
#                               WEB_DIR (pages, scripts, WebAssembly, the web
#                               app manifest, the vesk* icons), not the build
#                               system's files nor the timing page bench.*
#   vesk-VERSION.tar.gz         the committed tree (HEAD of SOURCE_DIR's git
#                               repository) in a folder vesk-VERSION/
#   vesk-VERSION-win64.exe      the Windows installer and portable zip, copied
#   vesk-VERSION-win64.zip      from WINDOWS_DIR, when it is given
#   SHA256SUMS                  sha256sum's lines for every file above
# Then lists DIST with the sizes in bytes. Fails, saying why and before it
# writes anything, when an input is missing.
set -eu

[ $# -eq 5 ] || [ $# -eq 6 ] || {
    echo "usage: release.sh VERSION DIST SOURCE_DIR DEB WEB_DIR [WINDOWS_DIR]" >&2
    exit 2
}
version=$1
dist=$2
source_dir=$3
deb=$4
web=$5
windows=${6:-}

die() {
    echo "release.sh: $*" >&2
    exit 1
}

[ -f "$deb" ] || die "no Debian package $deb"
for page in index.html index.js index.wasm; do
    [ -f "$web/$page" ] || die "no $web/$page: build the page first (make web)"
done
windows_files=""
if [ -n "$windows" ]; then
    windows_files="vesk-$version-win64.exe vesk-$version-win64.zip"
    for file in $windows_files; do
        [ -f "$windows/$file" ] || die "no $windows/$file (make windows writes it)"
    done
fi
git -C "$source_dir" rev-parse --verify -q HEAD >/dev/null ||
    die "$source_dir is not a git checkout: the source tarball is made of its committed tree"

rm -rf "$dist"
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
cp "$deb" "$dist/"

# The page: what the browser loads, by kind.
page_dir="$dist/vesk-$version-web"
mkdir "$page_dir"
for file in "$web"/*; do
    name=$(basename "$file")
    [ -f "$file" ] || continue
    case "$name" in
    bench.*) ;;
    *.html | *.js | *.wasm | *.webmanifest | vesk*.png | vesk*.svg) cp "$file" "$page_dir/" ;;
    esac
done
(cd "$dist" && zip -q -X -r "vesk-$version-web.zip" "vesk-$version-web")
rm -rf "$page_dir"

git -C "$source_dir" archive --format=tar.gz --prefix="vesk-$version/" \
    -o "$dist/vesk-$version.tar.gz" HEAD

for file in $windows_files; do cp "$windows/$file" "$dist/"; done

(cd "$dist" && sha256sum -- * >"$dist/.SHA256SUMS" && mv .SHA256SUMS SHA256SUMS)
echo "release.sh: vesk $version in $dist:"
(cd "$dist" && find . -maxdepth 1 -type f -printf '%10s  %f\n' | sort -k2)
