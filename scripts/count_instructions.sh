#!/bin/sh
# Runs vesk_count under callgrind and prints the instructions of each phase:
#   scripts/count_instructions.sh [BUILD_DIR]     (default the bench preset's tree)
# step_settled, floor_walk and frame are per step (the tool runs 10 of each).
set -eu
build="${1:-$("$(dirname "$0")/tree.sh" bench)}"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
SDL_VIDEODRIVER=dummy valgrind -q --tool=callgrind --instr-atstart=no \
    --callgrind-out-file="$out/cg" "$build/bench/vesk_count"
for f in "$out"/cg.*; do
    phase=$(sed -n 's/^desc: Trigger: Client Request: //p' "$f")
    total=$(sed -n 's/^summary: //p' "$f")
    case "$phase" in
    step_settled | floor_walk | frame) total=$((total / 10)) ;;
    esac
    printf '%-14s %12s instructions\n' "$phase" "$total"
done
