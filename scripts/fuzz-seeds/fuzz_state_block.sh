#!/usr/bin/env bash
# Seeds the state block reader's corpus with valid blocks that the fuzz target itself writes (every
# mode, canvases from empty to full, values across the parameters' ranges).
# Usage: fuzz_state_block.sh <corpus-dir> <build-dir>
set -euo pipefail
corpus=$1
build=$2
target="$build/tests/fuzz/fuzz_state_block"
mkdir -p "$corpus"
if [ ! -x "$target" ]; then
    echo "fuzz_state_block.sh: $target not built; no seeds" >&2
    exit 0
fi
QM_FUZZ_WRITE_SEEDS="$corpus" "$target"
