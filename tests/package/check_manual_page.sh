#!/bin/sh
# check_manual_page.sh: the manual page as `man -l` shows it.
#
#   check_manual_page.sh PAGE        (vesk.6 or the built vesk.6.gz)
#
# Renders PAGE with man-db's `man -l` and every groff warning turned on, and
# fails if man says anything on standard error or exits non-zero. Then checks
# that the page has what a reader looks for: the sections NAME, SYNOPSIS,
# DESCRIPTION, CONTROLS, OPTIONS, EXIT STATUS and FILES, the two exit
# statuses, and that it takes no options and reads no files.
set -eu

[ $# -eq 1 ] || { echo "usage: check_manual_page.sh PAGE" >&2; exit 2; }
page=$1
here=$(cd "$(dirname "$0")" && pwd)
text=$(mktemp)
trap 'rm -f "$text"' EXIT

# A fixed width and no pager; man-db's sandbox is not needed for our own page.
MANWIDTH=80 MANPAGER=cat PAGER=cat MAN_DISABLE_SECCOMP=1 \
    "$here/quiet.sh" --ignore-stdout man --warnings=w -l "$page"
MANWIDTH=80 MANPAGER=cat PAGER=cat MAN_DISABLE_SECCOMP=1 LC_ALL=C \
    man -l "$page" 2>/dev/null | col -b >"$text"

failed=0
expect() {
    if ! grep -Eq "$1" "$text"; then
        echo "check_manual_page.sh: $page: no line matching '$1' ($2)" >&2
        failed=1
    fi
}
for section in NAME SYNOPSIS DESCRIPTION CONTROLS OPTIONS "EXIT STATUS" FILES; do
    expect "^$section\$" "section $section"
done
expect "^ +vesk +- " "NAME line 'vesk - what it is'"
expect "^ +0 +" "exit status 0"
expect "^ +1 +" "exit status 1"
expect "takes no options" "no options"
expect "reads and writes no files" "no files"
expect "mouse button" "the controls"
exit "$failed"
