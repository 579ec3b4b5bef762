#!/bin/sh
# Runs each libFuzzer target of the fuzz preset's tree (BUILD below) for a
# bounded time: fuzz_port once, the others on each SDL 1.2 runtime the X
# harness tests here (tests/xharness.py with-runtime: the system's, and
# sdl12-compat in its private folder; one it does not test is reported
# skipped, with the reason),
# starting from the target's corpus in fuzz/corpus/<target>/ (read only: new
# inputs go to a scratch copy in BUILD/corpus/<target>/). Exits 1 on the first
# run that finds a crash, a sanitizer report, a failed check or a timeout.
#   fuzz/run.sh [SECONDS]     seconds per target and runtime, 30 by default
# To grow a corpus after a longer run, merge the scratch copy into it:
#   BUILD/fuzz/fuzz_draw -merge=1 fuzz/corpus/fuzz_draw BUILD/corpus/fuzz_draw
set -eu
cd "$(dirname "$0")/.."

seconds=${1:-30}
build=$(scripts/tree.sh fuzz)
# A single input may take this long before it counts as a hang, in seconds
# (the slowest known calls, lines and circles far off the surface, take < 1 s).
timeout_s=25
# The harness's status for a runtime it does not test here; libFuzzer's own
# failures are made to exit 1 so that the two cannot be confused.
skip_status=77

# Each run: TARGET:RUNTIME, where the runtime "own" is the port layer's
# SDL 1.2 compiled into the target, which needs neither of the system's.
skipped=
for run in fuzz_events:system fuzz_draw:system fuzz_events:private fuzz_draw:private fuzz_port:own; do
    target=${run%:*} runtime=${run#*:}
    [ "$runtime" = "$skipped" ] && continue
    work=$build/corpus/$target
    log=$build/$target-$runtime.log
    rm -rf "$work"
    mkdir -p "$work"
    with_runtime="python3 tests/xharness.py with-runtime $runtime" where="the $runtime runtime"
    [ "$runtime" = own ] && with_runtime= where="its own SDL 1.2"
    echo "== $target on $where: ${seconds} s"
    status=0
    SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy $with_runtime "$build/fuzz/$target" \
        -max_total_time="$seconds" -timeout="$timeout_s" -error_exitcode=1 -timeout_exitcode=1 \
        -print_final_stats=1 -artifact_prefix="$build/$target-$runtime-" "$work" \
        "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    if [ "$status" -eq "$skip_status" ] && grep -q '^skipped: ' "$log"; then
        grep '^skipped: ' "$log"
        skipped=$runtime
        continue
    fi
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log"
        echo "fuzz: $target failed on $where; the input that did it is in" \
            "$build/$target-$runtime-*" >&2
        exit 1
    fi
    grep -E "^runtime |seed corpus|^Done|number_of_executed_units|average_exec_per_sec|new_units_added|^fuzz_" "$log"
done
