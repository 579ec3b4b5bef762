#!/bin/sh
# fresh_root.sh: the README's commands as a newcomer types them, in a fresh
# Debian system made from Debian's packages (scripts/debian_root.sh), and
# this machine's package played there.
#
#   tests/fresh_root.sh [SUITE]        (as root; SUITE: trixie by default)
#
# In a new root of SUITE, from a fresh clone of this repository's HEAD:
#   1. `make run` with no display: it installs what the toy needs, builds it,
#      and the toy says in one line that it cannot start (status 1, so make
#      fails);
#   2. `make test`: what it installs now is found by the build (every build
#      configures again), and every test passes or is skipped with its reason;
#   3. `make test-package`: the package built there, installed, run, removed.
# Then this machine's package (BUILD/vesk_*.deb, built by `make package`) is
# installed in the root with apt-get and played there under Xvfb by the
# end-to-end suite (tests/e2e/e2e.py): its window, its runtime, the settled
# pile, the X, a crater, a drag, the close request.
# Nothing is kept: the root is made anew and removed at the end. Each step's
# time is printed; the last line is 'fresh_root: N passed, N failed'.
# Environment: BUILD (default build), ROOTS (where the root is made, default
# the system's temporary folder).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
suite=${1:-trixie}
BUILD=${BUILD:-build}
case "$BUILD" in /*) build=$BUILD ;; *) build="$here/$BUILD" ;; esac
# How the toy's one line starts when it cannot start (no display can be reached).
NO_WINDOW="vesk: cannot "

work=$(mktemp -d "${ROOTS:-${TMPDIR:-/tmp}}/vesk-root.XXXXXX")
root=$work/$suite
cleanup() { "$here/scripts/debian_root.sh" remove "$root" && rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

passed=0
started=$(date +%s)
step() {
    echo "== fresh_root ($suite): $1"
    step_started=$(date +%s)
}
ok() {
    passed=$((passed + 1))
    echo "ok: $1 ($(($(date +%s) - step_started)) s)"
}
fail() {
    echo "FAILED: $1" >&2
    echo "fresh_root: $passed passed, 1 failed"
    exit 1
}
inside() { "$here/scripts/debian_root.sh" run "$root" "$@"; }

set -- "$build"/vesk_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "no single $build/vesk_*.deb: make package first"
deb=$1

step "a new $suite root from Debian's packages"
"$here/scripts/debian_root.sh" make "$root" "$suite" || fail "mmdebstrap $suite"
git clone -q "$here" "$root/root/vesk" || fail "git clone"
ok "$(cat "$root/etc/debian_version"), clone of $(git -C "$here" rev-parse --short HEAD)"

step "make run, with no display"
status=0
inside sh -c 'cd /root/vesk && make run' >"$work/run.log" 2>&1 || status=$?
tail -n 3 "$work/run.log"
[ "$status" -ne 0 ] && grep -q "^$NO_WINDOW" "$work/run.log" ||
    fail "make run: expected the toy built and its line '$NO_WINDOW...' (status $status)"
ok "built; the toy said: $(grep "^$NO_WINDOW" "$work/run.log")"

step "make test"
inside sh -c 'cd /root/vesk && make test' || fail "make test"
ok "make test"

step "make test-package"
inside sh -c 'cd /root/vesk && make test-package' || fail "make test-package"
ok "make test-package"

step "this machine's $(basename "$deb") installed and played"
cp "$deb" "$root/root/"
inside sh -c "apt-get install -y -qq --no-install-recommends /root/$(basename "$deb") >/dev/null" ||
    fail "apt-get install $(basename "$deb")"
inside sh -c 'cd /root/vesk && python3 tests/e2e/e2e.py window --vesk /usr/games/vesk \
    --wm-close build/tests/e2e/wm_close --artifacts build --runtime system' ||
    fail "the installed package's game"
ok "played $(basename "$deb")"

echo "fresh_root ($suite): $(($(date +%s) - started)) s in all"
echo "fresh_root: $passed passed, 0 failed"
