#!/bin/sh
# Runs each libFuzzer target in build-fuzz for a bounded time, starting from
# its corpus in fuzz/corpus/<target>/ (read only: new inputs go to a scratch
# copy in build-fuzz/corpus/<target>/). Exits 1 on the first target that
# finds a crash, a sanitizer report, a failed check or a timeout.
#   fuzz/run.sh [SECONDS]     seconds per target, 30 by default
# To grow a corpus after a longer run, merge the scratch copy into it:
#   build-fuzz/fuzz/fuzz_draw -merge=1 fuzz/corpus/fuzz_draw build-fuzz/corpus/fuzz_draw
set -eu
cd "$(dirname "$0")/.."

seconds=${1:-30}
# A single input may take this long before it counts as a hang, in seconds
# (the slowest known calls, lines and circles far off the surface, take < 1 s).
timeout_s=25

for target in fuzz_events fuzz_draw fuzz_port; do
    work=build-fuzz/corpus/$target
    log=build-fuzz/$target.log
    rm -rf "$work"
    mkdir -p "$work"
    echo "== $target: ${seconds} s"
    if ! SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "build-fuzz/fuzz/$target" \
        -max_total_time="$seconds" -timeout="$timeout_s" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/$target-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz: $target failed; the input that did it is in build-fuzz/$target-*" >&2
        exit 1
    fi
    grep -E "seed corpus|^Done|number_of_executed_units|average_exec_per_sec|new_units_added|^fuzz_" "$log"
done
