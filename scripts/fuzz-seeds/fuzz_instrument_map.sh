#!/usr/bin/env bash
# Writes seeds for the sound-blob parser: every blob the bank maker writes (demo, large and hostile
# banks). Usage: fuzz_instrument_map.sh <corpus-dir> <build-dir>
set -euo pipefail
mkdir -p "$1"
"$2/tools/bankmaker/qm-bankmaker" blobs "$1"
