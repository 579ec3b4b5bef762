#!/bin/sh
# check_release.sh: the artifacts packaging/release.sh makes for `make release`.
#
#   check_release.sh make OUT VERSION BUILD_DIR SOURCE_DIR
#   check_release.sh lintian|tarball|checksums OUT VERSION
#
# make: the package of BUILD_DIR (cpack) and a stand-in for the built page
#   (a file of each name its list gives, and the service worker offline.cmake
#   writes for them, among the build system's files and the timing page's)
#   through release.sh into OUT/dist. lintian: no error and no warning on the
#   package, and none of lintian's hardening tags even at its info and
#   pedantic levels.
# tarball: vesk-VERSION.tar.gz holds vesk-VERSION/ alone and no .git; it
#   builds the program while git fails, and the program runs (dummy driver).
# checksums: OUT/dist holds the package of VERSION, the page's zip, the
#   tarball and SHA256SUMS, which names and matches the rest; the page's zip
#   holds its service worker and every file the worker caches, and nothing else.
#
#   check_release.sh reproducible|upgrade OUT [JOBS]      (make test-release)
#
# reproducible: `make release` in two clones of this checkout's HEAD under OUT,
#   paths and names apart, started RELEASE_GAP_S apart, with other umasks,
#   time zones and locales (the arm64 builds share one sysroot, made in
#   OUT/arm64-sysroot by the first): every artifact byte-identical, or
#   diffoscope's report (a listing without it); the real page's zip as in
#   checksums. Then a signed release of the first clone, with a throwaway gpg
#   key and self-signed certificate, time-stamped by a stand-in server on
#   127.0.0.1: the signatures and their time stamps verify, the unsigned
#   artifacts are unchanged, a changed artifact fails.
# upgrade: the first clone's tree as the next version (patch number + 1,
#   without the 22 px icon and the Windows README, so that an upgrade must
#   remove a file) released in OUT/next; then install_test.sh upgrades the
#   package to it and windows_installer.py the installer.
set -eu

step=$1
dist="$2/dist"
version=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
RELEASE_GAP_S=61 # between the starts of the two releases
fail() {
    echo "check_release.sh $step: $*" >&2
    exit 1
}
# check_page_zip ZIP: the page's zip, vesk-VERSION-web.zip, holds in its folder
# vesk-VERSION-web/ the service worker, every file the worker caches for
# offline play (the names in its FILES, the manifest among them), and nothing
# else.
check_page_zip() {
    folder="$(basename "$1" .zip)/"
    unzip -p "$1" "${folder}sw.js" >"$work/sw.js" 2>/dev/null || fail "$1 holds no ${folder}sw.js"
    sed -n "/^const FILES = {/,/^};/s/^ *'\([^']*\)': '[0-9a-f]\{64\}',$/\1/p" "$work/sw.js" |
        grep -vx '\./' >"$work/cached" || fail "no FILES in ${folder}sw.js"
    grep -qx manifest.webmanifest "$work/cached" || fail "${folder}sw.js does not cache the manifest"
    { printf '%s\n' "" sw.js && cat "$work/cached"; } | sed "s|^|$folder|" | sort >"$work/page"
    unzip -Z1 "$1" | sort | diff -u "$work/page" - >&2 ||
        fail "$1 holds other files than sw.js and those it caches (- wanted, + there)"
}

case "$step" in
make)
    rm -rf "$2" && mkdir -p "$2/deb" "$2/web/CMakeFiles"
    cpack -G DEB --config "$4/CPackConfig.cmake" -B "$2/deb" >"$2/cpack.log" 2>&1 ||
        { cat "$2/cpack.log" >&2; fail "cpack failed"; }
    for file in $(sed -n '/^[^#]/{s/\*/16/;p;}' "$5/src/platform/web/page_files.txt") bench.html bench.js \
        bench.wasm CMakeCache.txt Makefile CMakeFiles/progress.marks; do echo "$file" >"$2/web/$file"; done
    echo "<meta name=\"version\" content=\"$version\">" >"$2/web/index.html"
    cmake -DPAGE_DIR="$2/web" -P "$5/src/platform/web/offline.cmake" || fail "offline.cmake failed"
    "$(dirname "$0")/../../packaging/release.sh" "$version" "$dist" "$5" "$2"/deb/vesk_*.deb "$2/web"
    ;;
lintian)
    lintian -I --pedantic --fail-on error,warning "$dist"/vesk_*.deb >"$work/tags" 2>&1 ||
        { cat "$work/tags" >&2; fail "lintian reports errors or warnings"; }
    ! grep -E '^[A-Z]: vesk[^:]*: hardening-' "$work/tags" >&2 || fail "lintian's hardening tags"
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
    check_page_zip "$dist/vesk-$version-web.zip"
    ;;
reproducible)
    out=$2
    jobs=${3:-2}
    source=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
    commit=$(git -C "$source" rev-parse HEAD)
    rm -rf "$out" && mkdir -p "$out"
    started=$(date +%s)
    # clone_release FOLDER UMASK TZ LOCALE: HEAD cloned into FOLDER, released there.
    clone_release() {
        mkdir -p "$(dirname "$1")"
        (umask "$2" && git clone -q --no-checkout "$source" "$1" &&
            git -C "$1" checkout -q "$commit" &&
            cd "$1" && TZ=$3 LC_ALL=$4 LANG=$4 make release JOBS="$jobs" \
                ARM64_SYSROOT="$out/arm64-sysroot") >"$1.log" 2>&1 ||
            { tail -n 30 "$1.log" >&2; fail "make release in $1"; }
    }
    clone_release "$out/a/vesk" 022 UTC C
    wait_s=$((started + RELEASE_GAP_S - $(date +%s)))
    [ "$wait_s" -le 0 ] || sleep "$wait_s"
    clone_release "$out/other-folder.b/vesk-second" 077 Pacific/Kiritimati C.UTF-8
    a="$out/a/vesk/dist" b="$out/other-folder.b/vesk-second/dist"
    (cd "$a" && ls) >"$work/a" && (cd "$b" && ls) >"$work/b"
    diff -u "$work/a" "$work/b" >&2 || fail "the two releases hold other files"
    differ=""
    while IFS= read -r file; do
        cmp -s "$a/$file" "$b/$file" && continue
        differ="$differ $file"
        if command -v diffoscope >/dev/null; then
            diffoscope --text - "$a/$file" "$b/$file" | head -n 200 >&2 || true
        else
            for f in "$a/$file" "$b/$file"; do
                { unzip -Zl "$f" || dpkg-deb -c "$f" || tar -tvzf "$f" || od -c "$f" | head; } 2>/dev/null >&2
            done
        fi
    done <"$work/a"
    [ -z "$differ" ] || fail "not byte-identical:$differ"
    check_page_zip "$(ls "$a"/vesk-*-web.zip)"
    echo "check_release.sh: SHA256SUMS of both releases:" && sed 's/^/  /' "$a/SHA256SUMS"

    # Signed, with a key and a certificate that live as long as the test.
    GNUPGHOME="$out/gnupg" && export GNUPGHOME && mkdir -m 700 "$GNUPGHOME"
    trap 'gpgconf --kill gpg-agent 2>/dev/null; rm -rf "$work"' EXIT
    gpg --batch --quiet --passphrase '' --quick-gen-key "Vesk test <test@vesk.invalid>" rsa2048 sign 1d \
        2>"$work/gpg" || { cat "$work/gpg" >&2; fail "gpg made no key"; }
    key=$(gpg --batch --list-secret-keys --with-colons 2>/dev/null | awk -F: '/^fpr/ { print $10; exit }')
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vesk test" \
        -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null || fail "openssl made no certificate"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vesk test time stamps" \
        -addext "extendedKeyUsage=critical,timeStamping" -keyout "$out/tsa-key.pem" \
        -out "$out/tsa.pem" 2>/dev/null || fail "openssl made no time-stamping certificate"
    # The stand-in time-stamping server (RFC 3161 over HTTP): openssl ts -reply, signed with
    # the throwaway time-stamping certificate; it prints its address once listening.
    printf '%s\n' '[tsa]' 'default_tsa = t' '[t]' "serial = $out/tsa-serial" 'digests = sha256, sha1' \
        "signer_cert = $out/tsa.pem" "signer_key = $out/tsa-key.pem" 'signer_digest = sha256' \
        'default_policy = 1.2.3.4.1' 'ess_cert_id_alg = sha256' >"$out/tsa.cnf" && echo 01 >"$out/tsa-serial"
    python3 -c 'import http.server, subprocess, sys
class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1],
            "-queryfile", "/dev/stdin", "-out", "/dev/stdout"], input=query, capture_output=True).stdout)
server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
print("http://127.0.0.1:%d/" % server.server_address[1], flush=True)
server.serve_forever()' "$out/tsa.cnf" >"$work/tsa-url" 2>"$work/tsa.log" &
    tsa_pid=$!
    trap 'kill "$tsa_pid" 2>/dev/null || true; gpgconf --kill gpg-agent 2>/dev/null; rm -rf "$work"' EXIT
    i=0
    until [ -s "$work/tsa-url" ]; do
        i=$((i + 1))
        [ "$i" -le 50 ] && kill -0 "$tsa_pid" 2>/dev/null ||
            { cat "$work/tsa.log" >&2; fail "the time-stamping server did not start"; }
        sleep 0.1
    done
    s="$out/signed"
    (cd "$out/a/vesk" && make release DIST="$s" SIGNING_KEY="$key" WINDOWS_SIGNING_CERT="$out/cert.pem" \
        WINDOWS_SIGNING_KEY="$out/key.pem" WINDOWS_TIMESTAMP_URL="$(cat "$work/tsa-url")") \
        >"$out/signed.log" 2>&1 || { tail -n 30 "$out/signed.log" >&2; fail "the signed make release"; }
    kill "$tsa_pid"
    gpg --batch --verify "$s/SHA256SUMS.asc" "$s/SHA256SUMS" 2>"$work/gpg" ||
        { cat "$work/gpg" >&2; fail "gpg does not accept SHA256SUMS.asc"; }
    mkdir "$work/zip" && (cd "$work/zip" && unzip -q "$s"/vesk-*-win64.zip)
    for exe in "$s"/vesk-*-win64.exe "$work"/zip/*/vesk.exe; do
        osslsigncode verify -CAfile "$out/cert.pem" -TSA-CAfile "$out/tsa.pem" -in "$exe" \
            >"$work/verify" 2>&1 || { cat "$work/verify" >&2; fail "osslsigncode does not accept $exe"; }
        # osslsigncode 2.5 (Debian 12) and 2.9 say it each their way.
        grep -qE "^The signature is timestamped:|^[[:space:]]*Timestamp time:" "$work/verify" ||
            { cat "$work/verify" >&2; fail "$exe carries no time stamp"; }
    done
    osslsigncode remove-signature -in "$work"/zip/*/vesk.exe -out "$work/unsigned.exe" >/dev/null &&
        mkdir "$work/unsigned" && (cd "$work/unsigned" && unzip -q "$a"/vesk-*-win64.zip) &&
        cmp "$work/unsigned.exe" "$work"/unsigned/*/vesk.exe || fail "vesk.exe less its signature differs"
    for file in "$a"/*.deb "$a"/*-web.zip "$a"/*.tar.gz; do
        cmp "$file" "$s/$(basename "$file")" || fail "signing changed $(basename "$file")"
    done
    cp "$s"/vesk-*-win64.exe "$work/changed.exe" && printf x | dd of="$work/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
    ! osslsigncode verify -CAfile "$out/cert.pem" -in "$work/changed.exe" >/dev/null 2>&1 ||
        fail "osslsigncode accepts a changed installer"
    { cat "$s/SHA256SUMS" && printf '%064d  vesk-changed.exe\n' 0; } >"$work/SHA256SUMS"
    ! gpg --batch --verify "$s/SHA256SUMS.asc" "$work/SHA256SUMS" 2>/dev/null ||
        fail "gpg accepts a changed SHA256SUMS"
    for deb in "$s"/vesk_*.deb; do
        cp "$deb" "$work/deb" && printf x >>"$deb"
        ! (cd "$s" && sha256sum --quiet -c SHA256SUMS) >/dev/null 2>&1 ||
            fail "SHA256SUMS matches a changed $(basename "$deb")"
        mv "$work/deb" "$deb"
    done
    echo "check_release.sh: byte-identical releases; signatures verify, changed artifacts fail"
    ;;
upgrade)
    out=$2
    a="$out/a/vesk" next="$out/next"
    build="$a/$("$a/scripts/tree.sh" default)"
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    next_version=$(echo "$version" | awk -F. '{ print $1 "." $2 "." $3 + 1 }')
    rm -rf "$next" && git clone -q --no-checkout "$a" "$next" &&
        git -C "$next" checkout -q "$(git -C "$a" rev-parse HEAD)"
    sed -i "s/^project(vesk VERSION $version /project(vesk VERSION $next_version /" "$next/CMakeLists.txt"
    sed -i 's/^\(set(VESK_ICON_SIZES_PX.*\) 22 /\1 /' "$next/packaging/CMakeLists.txt"
    sed -i 's| \${CMAKE_CURRENT_BINARY_DIR}/README.txt$||' "$next/packaging/windows/CMakeLists.txt"
    [ "$(git -C "$next" diff --numstat | wc -l)" -eq 3 ] || fail "could not make the next version"
    git -C "$next" -c user.name=test -c user.email=test@vesk.invalid commit -qam "$next_version"
    (cd "$next" && make release JOBS="${3:-2}" ARM64_SYSROOT="$out/arm64-sysroot") >"$next.log" 2>&1 ||
        { tail -n 30 "$next.log" >&2; fail "make release of the next version"; }
    (cd "$a" && NEXT_DEB="$next/dist/vesk_${next_version}_amd64.deb" ./tests/package/install_test.sh)
    python3 "$a/tests/package/windows_installer.py" --installer "$a/dist/vesk-$version-win64.exe" \
        --zip "$a/dist/vesk-$version-win64.zip" --version "$version" --vesk "$build/vesk" \
        --wm-close "$build/tests/e2e/wm_close" --artifacts "$out" \
        --next-installer "$next/dist/vesk-$next_version-win64.exe" \
        --next-zip "$next/dist/vesk-$next_version-win64.zip" --next-version "$next_version"
    ;;
*) fail "unknown step" ;;
esac
