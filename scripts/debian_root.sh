#!/bin/sh
# debian_root.sh: a fresh Debian system in a folder, made from Debian's own
# packages with mmdebstrap, and commands run inside it as root.
#
#   scripts/debian_root.sh make ROOT SUITE [ARCH]   a new root: SUITE (bookworm, trixie...)
#                                                    for ARCH (the machine's own by default)
#   scripts/debian_root.sh extract ROOT SUITE ARCH PACKAGES   PACKAGES' files alone
#   scripts/debian_root.sh run ROOT COMMAND [ARG...] COMMAND inside ROOT, as root
#   scripts/debian_root.sh remove ROOT               ROOT and everything in it
#
# `make` installs the smallest system apt runs on (mmdebstrap's variant apt)
# and ROOT_PACKAGES (comma-separated; make and git by default: what a
# newcomer needs to clone the project and type the README's commands); apt
# there keeps no downloaded package.
# `extract` unpacks PACKAGES (comma-separated) and what they depend on,
# installing nothing (mmdebstrap's variant extract): a sysroot to build
# against, or the libraries a program of ARCH runs on under qemu-user. Its
# /bin, /sbin and /lib are links into /usr, as on any Debian 12 or 13 system
# (unpacking alone makes none, and Debian 13's packages ship only /usr). The
# root's dpkg database stays empty, so the packages' symbols and shlibs
# control files are gathered in ROOT/DEBIAN/, where dpkg-shlibdeps reads them
# for libraries under ROOT (a package build tree, by its conventions). The
# root is made beside ROOT and moved there whole; ROOT.made-of says what of.
# A ROOT made of the same is kept, one made of other things replaced, any
# other left alone (the command fails). Needs root, or the unprivileged user
# namespaces mmdebstrap falls back on.
# Nothing is cached: every root is downloaded and unpacked anew. Debian's
# archive is DEBIAN_MIRROR (http://deb.debian.org/debian).
#
# `run` runs COMMAND through chroot in a mount namespace of its own, with
# the machine's /proc, /sys and /dev (and /dev/shm) bound in, so that the
# mounts end with the command whatever happens to it. The root gets the
# machine's resolv.conf and its certificate stores (the files
# SSL_CERT_FILE and NODE_EXTRA_CA_CERTS name too: npm inside reaches the
# registry through them). COMMAND sees a plain environment: HOME=/root,
# Debian's PATH, LANG=C.UTF-8, and CI, SSL_CERT_FILE and NODE_EXTRA_CA_CERTS
# when set. Needs root (mmdebstrap, unshare and chroot do).
set -eu

DEBIAN_MIRROR=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
ROOT_PACKAGES=${ROOT_PACKAGES:-make,git}
ROOT_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

usage() {
    echo "usage: $0 make ROOT SUITE [ARCH] | extract ROOT SUITE ARCH PACKAGES |" \
        "run ROOT COMMAND [ARG...] | remove ROOT" >&2
    exit 2
}

[ $# -ge 2 ] || usage
what=$1
root=$2
shift 2
[ "$(id -u)" -eq 0 ] || [ "$what" = extract ] ||
    { echo "debian_root.sh: needs root (mmdebstrap, unshare, chroot)" >&2; exit 1; }
need_mmdebstrap() {
    command -v mmdebstrap >/dev/null 2>&1 ||
        { echo "debian_root.sh: mmdebstrap is missing: apt-get install mmdebstrap" >&2; exit 1; }
    [ ! -e "$root" ] || { echo "debian_root.sh: $root exists; remove it first" >&2; exit 1; }
    mkdir -p "$(dirname "$root")"
}

case "$what" in
make)
    [ $# -ge 1 ] || usage
    suite=$1
    arch=${2:-$(dpkg --print-architecture)}
    need_mmdebstrap
    # Once made, apt in the root keeps none of the packages it downloads.
    env -u APT_CONFIG mmdebstrap --quiet --variant=apt --architectures="$arch" \
        --include="$ROOT_PACKAGES" --customize-hook='echo "APT::Keep-Downloaded-Packages \"false\";" \
            >"$1/etc/apt/apt.conf.d/90keep-no-downloads"' "$suite" "$root" "$DEBIAN_MIRROR"
    ;;
extract)
    [ $# -eq 3 ] || usage
    made_of="$1 $2 $3"
    [ "$(cat "$root.made-of" 2>/dev/null)" != "$made_of" ] || exit 0
    # Only a root this made, of other things, is replaced.
    [ ! -e "$root.made-of" ] || rm -rf "$root" "$root.made-of"
    need_mmdebstrap
    part="$root.part"
    rm -rf "$part"
    env -u APT_CONFIG mmdebstrap --quiet --variant=extract --architectures="$2" --include="$3" \
        --setup-hook='for d in bin sbin lib; do
            mkdir -p "$1/usr/$d" && ln -s "usr/$d" "$1/$d"
        done' \
        --extract-hook='mkdir "$1/DEBIAN" && for deb in "$1"/var/cache/apt/archives/*.deb; do
            for file in symbols shlibs; do
                dpkg-deb --ctrl-tarfile "$deb" | { tar -xOf - "./$file" 2>/dev/null || true; } \
                    >>"$1/DEBIAN/$file"
            done
        done' "$1" "$part" "$DEBIAN_MIRROR"
    mv "$part" "$root"
    echo "$made_of" >"$root.made-of"
    ;;
run)
    [ $# -ge 1 ] || usage
    [ -x "$root/bin/sh" ] || { echo "debian_root.sh: $root holds no system" >&2; exit 1; }
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    for store in /etc/ssl/certs/ca-certificates.crt ${SSL_CERT_FILE:-} ${NODE_EXTRA_CA_CERTS:-}; do
        if [ -f "$store" ]; then
            mkdir -p "$root$(dirname "$store")"
            cp -L "$store" "$root$store"
        fi
    done
    set -- env -i HOME=/root PATH="$ROOT_PATH" LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        ${CI:+CI="$CI"} ${SSL_CERT_FILE:+SSL_CERT_FILE="$SSL_CERT_FILE"} \
        ${NODE_EXTRA_CA_CERTS:+NODE_EXTRA_CA_CERTS="$NODE_EXTRA_CA_CERTS"} "$@"
    # The mounts live in the namespace alone: they go when the command ends.
    exec unshare --mount --propagation private sh -euc '
        root=$1
        shift
        mount --rbind /dev "$root/dev"
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        exec chroot "$root" "$@"' sh "$root" "$@"
    ;;
remove)
    # A stray bind mount left inside would take the machine's own files along.
    if grep -q " $(realpath -m "$root")/" /proc/mounts; then
        echo "debian_root.sh: something is still mounted under $root; not removing it" >&2
        exit 1
    fi
    rm -rf "$root"
    ;;
*) usage ;;
esac
