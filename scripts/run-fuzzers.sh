#!/usr/bin/env bash
# Runs every built fuzz_* target for a bounded time. A target may provide a seed corpus by
# shipping scripts/fuzz-seeds/<target>.sh, which is called with the corpus folder to fill.
set -euo pipefail
build=$1
seconds=${QM_FUZZ_SECONDS:-60}
for exe in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe")
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    seeder="scripts/fuzz-seeds/$name.sh"
    [ -f "$seeder" ] && bash "$seeder" "$corpus" "$build"
    echo "fuzzing $name for ${seconds}s"
    "$exe" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>"$build/$name.log" \
        || { tail -60 "$build/$name.log"; exit 1; }
    grep -E 'stat::number_of_executed_units' "$build/$name.log" || true
done
