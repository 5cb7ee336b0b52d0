#!/usr/bin/env bash
# Writes seeds for the state block reader (valid blocks and hostile variants of them) with the
# seed writer of the fuzz build. Usage: fuzz_state_block.sh <corpus-dir> <fuzz-build-dir>
set -euo pipefail
mkdir -p "$1"
"$2/tests/fuzz/qm_state_block_seeds" "$1"
