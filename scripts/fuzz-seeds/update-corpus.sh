#!/usr/bin/env bash
# Regenerates the committed fuzz corpus, tests/fuzz/corpus/<target>/: every seed that adds coverage
# (the seed writers' valid and hostile inputs), then whatever inputs of the current corpus and of the
# extra folders (say, a longer fuzzing run's corpus/<target>) reach edges the seeds do not.
# Usage: update-corpus.sh <fuzz-build-dir> [extra-folder...]   (a build with -DQM_FUZZ=ON)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "$1")
shift
for exe in "$build"/tests/fuzz/fuzz_*; do
    name=$(basename "$exe")
    seeds=$(mktemp -d)
    merged=$(mktemp -d)
    bash "scripts/fuzz-seeds/$name.sh" "$seeds" "$build"
    mkdir -p "tests/fuzz/corpus/$name"
    extra=()
    for dir in "$@"; do [ -d "$dir/$name" ] && extra+=("$dir/$name"); done
    "$exe" -merge=1 "$merged" "$seeds" 2>"$build/$name.merge.log"
    "$exe" -merge=1 -use_counters=0 "$merged" "tests/fuzz/corpus/$name" "${extra[@]}" 2>>"$build/$name.merge.log"
    rm -rf "tests/fuzz/corpus/$name" "$seeds"
    mv "$merged" "tests/fuzz/corpus/$name"
    echo "$name: $(ls "tests/fuzz/corpus/$name" | wc -l) inputs"
done
