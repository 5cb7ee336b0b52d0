#!/usr/bin/env bash
# Seeds the sound-blob parser's corpus with every blob the bank maker writes (demo, large and
# hostile banks). Usage: fuzz_instrument_map.sh <corpus-dir> <build-dir>
set -euo pipefail
corpus=$1
build=$2
maker="$build/tools/bankmaker/qm-bankmaker"
mkdir -p "$corpus"
if [ ! -x "$maker" ]; then
    echo "fuzz_instrument_map.sh: $maker not built; no seeds" >&2
    exit 0
fi
"$maker" blobs "$corpus"
