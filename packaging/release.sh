#!/bin/sh
# release.sh: gathers one release's artifacts into a folder and checksums them.
#
#   release.sh VERSION DIST SOURCE_DIR DEB WEB_DIR [WINDOWS_DIR [DEB...]]
#
# VERSION is CMake's project version (the caller reads it from CMake). Empties
# DIST, then writes there:
#   DEB's name                  the Debian package, copied, and each further
#                               DEB (another architecture's) after WINDOWS_DIR
#   vesk-VERSION-web.zip        the page, in a folder vesk-VERSION-web/: the
#                               files of WEB_DIR that the page's list names
#                               (src/platform/web/page_files.txt under
#                               SOURCE_DIR) and its service worker sw.js; not
#                               the build system's files nor the timing page
#   vesk-VERSION.tar.gz         the committed tree (HEAD of SOURCE_DIR's git
#                               repository) in a folder vesk-VERSION/
#   vesk-VERSION-win64.exe      the Windows installer, copied from WINDOWS_DIR
#   vesk-VERSION-win64.zip      and its portable zip, repacked, when it is given
#   SHA256SUMS                  sha256sum's lines for every file above
#   SHA256SUMS.asc              its detached, armoured signature, when
#                               SIGNING_KEY (a gpg key id) is set
# Then lists DIST with the sizes in bytes. Fails, saying why and before it
# writes anything, when an input is missing.
#
# The same inputs give the same bytes: both zips are written here with their
# members sorted, modes 755 (folders) and 644 (files), no owners, and every
# time SOURCE_DATE_EPOCH (seconds since 1970; the commit's time when unset),
# in UTC. The Windows zip holds what CPack's does, repacked so.
#
# With WINDOWS_SIGNING_CERT and WINDOWS_SIGNING_KEY (PEM files) set, signs
# WINDOWS_DIR's vesk.exe with Authenticode (osslsigncode), rebuilds the
# installer around it (cpack -G NSIS), signs the installer, and puts the
# signed program in the zip; every signature's time is SOURCE_DATE_EPOCH.
# With WINDOWS_TIMESTAMP_URL (an RFC 3161 time-stamping server) too, each
# signature is also time-stamped there, so that it stays valid after the
# certificate expires. WINDOWS_DIR's vesk.exe is put back as the linker
# wrote it afterwards.
set -eu
export LC_ALL=C # the order of file names, in SHA256SUMS as in the zips

[ $# -ge 5 ] || {
    echo "usage: release.sh VERSION DIST SOURCE_DIR DEB WEB_DIR [WINDOWS_DIR [DEB...]]" >&2
    exit 2
}
version=$1
dist=$2
source_dir=$3
deb=$4
web=$5
windows=${6:-}
shift $(($# < 6 ? 5 : 6))
# Every Debian package: DEB, then the other architectures'.
set -- "$deb" "$@"

die() {
    echo "release.sh: $*" >&2
    exit 1
}

for deb in "$@"; do
    [ -f "$deb" ] || die "no Debian package $deb"
done
# The page's files, one a line: each of the list's names and patterns, and the worker.
# (A pattern that matches nothing stays as it is, and is no file.)
page_list="$source_dir/src/platform/web/page_files.txt"
[ -f "$page_list" ] || die "no $page_list"
page_files=$(sed -n '/^[^#]/p' "$page_list" | while IFS= read -r pattern; do
    for file in "$web"/$pattern; do basename "$file"; done
done; echo sw.js)
for page in $page_files; do
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
SIGNING_KEY=${SIGNING_KEY:-}
WINDOWS_SIGNING_CERT=${WINDOWS_SIGNING_CERT:-}
WINDOWS_SIGNING_KEY=${WINDOWS_SIGNING_KEY:-}
WINDOWS_TIMESTAMP_URL=${WINDOWS_TIMESTAMP_URL:-}
if [ -n "$WINDOWS_TIMESTAMP_URL" ] && [ -z "$WINDOWS_SIGNING_CERT" ]; then
    die "WINDOWS_TIMESTAMP_URL time-stamps Authenticode signatures: give WINDOWS_SIGNING_CERT and _KEY"
fi
if [ -n "$WINDOWS_SIGNING_CERT$WINDOWS_SIGNING_KEY" ]; then
    [ -n "$windows" ] || die "WINDOWS_SIGNING_CERT and _KEY sign the Windows build: give WINDOWS_DIR"
    [ -f "$WINDOWS_SIGNING_CERT" ] && [ -f "$WINDOWS_SIGNING_KEY" ] ||
        die "WINDOWS_SIGNING_CERT and WINDOWS_SIGNING_KEY must both name PEM files"
    command -v osslsigncode >/dev/null || die "no osslsigncode (Debian's package osslsigncode)"
fi
if [ -n "$SIGNING_KEY" ]; then
    gpg --batch --list-secret-keys "$SIGNING_KEY" >/dev/null 2>&1 ||
        die "gpg has no secret key $SIGNING_KEY"
fi
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# pack_zip PARENT FOLDER ZIP: PARENT/FOLDER/ and all it holds as ZIP, the
# same bytes whoever, wherever and whenever it runs.
pack_zip() {
    find "$1/$2" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
    find "$1/$2" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    (cd "$1" && find "$2" -print | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$3")
}

# sign_exe IN OUT: IN signed with Authenticode into OUT (and time-stamped).
sign_exe() {
    in=$1 out=$2
    set -- -certs "$WINDOWS_SIGNING_CERT" -key "$WINDOWS_SIGNING_KEY" -h sha256 -n "Vesk $version" \
        -time "$SOURCE_DATE_EPOCH"
    [ -z "$WINDOWS_TIMESTAMP_URL" ] || set -- "$@" -ts "$WINDOWS_TIMESTAMP_URL"
    rm -f "$out"
    osslsigncode sign "$@" -in "$in" -out "$out" >"$work/sign.log" 2>&1 ||
        { cat "$work/sign.log" >&2; die "osslsigncode could not sign $in"; }
}

rm -rf "$dist"
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
cp "$@" "$dist/"

page_dir="$dist/vesk-$version-web"
mkdir "$page_dir"
for page in $page_files; do cp "$web/$page" "$page_dir/"; done
pack_zip "$dist" "vesk-$version-web" "$dist/vesk-$version-web.zip"
rm -rf "$page_dir"

git -C "$source_dir" archive --format=tar.gz --prefix="vesk-$version/" \
    -o "$dist/vesk-$version.tar.gz" HEAD

if [ -n "$windows" ]; then
    mkdir "$work/zip"
    windows=$(cd "$windows" && pwd)
    installer="$windows/vesk-$version-win64.exe"
    (cd "$work/zip" && unzip -q "$windows/vesk-$version-win64.zip")
    [ -f "$work/zip/vesk-$version-win64/vesk.exe" ] || die "no vesk-$version-win64/vesk.exe in the zip"
    if [ -n "$WINDOWS_SIGNING_CERT" ]; then
        cp -p "$windows/vesk.exe" "$work/vesk.exe"
        sign_exe "$work/vesk.exe" "$work/zip/vesk-$version-win64/vesk.exe"
        cp "$work/zip/vesk-$version-win64/vesk.exe" "$windows/vesk.exe"
        status=0
        (cd "$windows" && cpack -G NSIS) >"$work/cpack.log" 2>&1 || status=$?
        cp -p "$work/vesk.exe" "$windows/vesk.exe"
        [ "$status" -eq 0 ] || { cat "$work/cpack.log" >&2; die "cpack -G NSIS failed"; }
        sign_exe "$installer" "$dist/vesk-$version-win64.exe"
    else
        cp "$installer" "$dist/"
    fi
    pack_zip "$work/zip" "vesk-$version-win64" "$dist/vesk-$version-win64.zip"
fi

(cd "$dist" && sha256sum -- * >"$dist/.SHA256SUMS" && mv .SHA256SUMS SHA256SUMS)
if [ -n "$SIGNING_KEY" ]; then
    gpg --batch --yes --local-user "$SIGNING_KEY" --armor --detach-sign \
        -o "$dist/SHA256SUMS.asc" "$dist/SHA256SUMS" || die "gpg could not sign SHA256SUMS"
fi
echo "release.sh: vesk $version in $dist:"
(cd "$dist" && find . -maxdepth 1 -type f -printf '%10s  %f\n' | sort -k2)
