#!/usr/bin/env bash
# Runs every built fuzz_* target at once, each for a bounded time, starting from a copy of its
# committed corpus (tests/fuzz/corpus/<target>/). Fails when any target finds a fault.
# Usage: run-fuzzers.sh <fuzz-build-dir>
set -euo pipefail
build=$1
declare -A seconds=([fuzz_instrument_map]=30 [fuzz_state_block]=60) # the blob target levels off sooner
pids=()
names=()
for exe in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe")
    corpus="$build/corpus/$name"
    rm -rf "$corpus" && mkdir -p "$corpus"
    cp -r "tests/fuzz/corpus/$name/." "$corpus/"
    time=${QM_FUZZ_SECONDS:-${seconds[$name]:-60}}
    echo "fuzzing $name for ${time}s"
    "$exe" -max_total_time="$time" -print_final_stats=1 "$corpus" >"$build/$name.log" 2>&1 &
    pids+=($!)
    names+=("$name")
done
failed=0
for i in "${!pids[@]}"; do
    log="$build/${names[$i]}.log"
    if wait "${pids[$i]}"; then
        grep -E 'stat::number_of_executed_units' "$log" | sed "s/^/${names[$i]}: /" || true
    else
        echo "${names[$i]} failed:"
        tail -60 "$log"
        failed=1
    fi
done
exit $failed
