#!/bin/sh
# debian_root.sh: a fresh Debian system in a folder, made from Debian's own
# packages with mmdebstrap, and commands run inside it as root.
#
#   scripts/debian_root.sh make ROOT SUITE [ARCH]   a new root: SUITE (bookworm, trixie...)
#                                                    for ARCH (the machine's own by default)
#   scripts/debian_root.sh run ROOT COMMAND [ARG...] COMMAND inside ROOT, as root
#   scripts/debian_root.sh remove ROOT               ROOT and everything in it
#
# `make` installs the smallest system apt runs on (mmdebstrap's variant apt)
# and ROOT_PACKAGES (comma-separated; make and git by default: what a
# newcomer needs to clone the project and type the README's commands); apt
# there keeps no downloaded package.
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
    echo "usage: $0 make ROOT SUITE [ARCH] | run ROOT COMMAND [ARG...] | remove ROOT" >&2
    exit 2
}

[ $# -ge 2 ] || usage
what=$1
root=$2
shift 2
[ "$(id -u)" -eq 0 ] || { echo "debian_root.sh: needs root (mmdebstrap, unshare, chroot)" >&2; exit 1; }

case "$what" in
make)
    [ $# -ge 1 ] || usage
    suite=$1
    arch=${2:-$(dpkg --print-architecture)}
    command -v mmdebstrap >/dev/null 2>&1 ||
        { echo "debian_root.sh: mmdebstrap is missing: apt-get install mmdebstrap" >&2; exit 1; }
    [ ! -e "$root" ] || { echo "debian_root.sh: $root exists; remove it first" >&2; exit 1; }
    mkdir -p "$(dirname "$root")"
    # Once made, apt in the root keeps none of the packages it downloads.
    env -u APT_CONFIG mmdebstrap --quiet --variant=apt --architectures="$arch" \
        --include="$ROOT_PACKAGES" --customize-hook='echo "APT::Keep-Downloaded-Packages \"false\";" \
            >"$1/etc/apt/apt.conf.d/90keep-no-downloads"' "$suite" "$root" "$DEBIAN_MIRROR"
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
