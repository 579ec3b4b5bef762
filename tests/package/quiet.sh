#!/bin/sh
# quiet.sh: runs a checker and fails unless it passes without a word.
#
#   quiet.sh [--ignore-stdout] COMMAND [ARG...]
#
# Exits 0 when COMMAND exits 0 and prints nothing on standard error, nor on
# standard output unless --ignore-stdout is given (for a command whose output
# is the rendered document). Otherwise prints what it said and exits 1.
# Linters such as desktop-file-validate and groff -ww exit 0 on warnings;
# this turns their warnings into failures.
set -eu

keep_stdout=1
if [ "${1:-}" = "--ignore-stdout" ]; then
    keep_stdout=0
    shift
fi
[ $# -gt 0 ] || { echo "usage: quiet.sh [--ignore-stdout] COMMAND [ARG...]" >&2; exit 2; }

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

status=0
"$@" >"$out" 2>"$err" || status=$?
[ "$keep_stdout" -eq 1 ] || : >"$out"
if [ "$status" -ne 0 ] || [ -s "$out" ] || [ -s "$err" ]; then
    echo "quiet.sh: '$*' exited $status and said:" >&2
    cat "$out" "$err" >&2
    exit 1
fi
