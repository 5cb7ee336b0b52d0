#!/usr/bin/env bash
# Installs the built VST3 and LV2 bundles into the user's plug-in folders, puts the demo sound bank
# into the sounds folder when it holds no bank yet, and starts the Standalone instrument.
set -euo pipefail
build=${1:-build/release}
art="$build/src/processor/Quillmoor_artefacts"
cfg=$(ls "$art" | grep -v -E '^(VST3|LV2|Standalone|JuceLibraryCode)$' | head -n 1 || true)
[ -n "$cfg" ] && art="$art/$cfg"

mkdir -p "$HOME/.vst3" "$HOME/.lv2"
rm -rf "$HOME/.vst3/Quillmoor.vst3" "$HOME/.lv2/Quillmoor.lv2"
cp -r "$art/VST3/Quillmoor.vst3" "$HOME/.vst3/"
cp -r "$art/LV2/Quillmoor.lv2" "$HOME/.lv2/"
echo "Installed $HOME/.vst3/Quillmoor.vst3 and $HOME/.lv2/Quillmoor.lv2"

library="${XDG_DATA_HOME:-$HOME/.local/share}/Velmora"
sounds="$library/Quillmoor Sounds"
mkdir -p "$sounds" "$library/Quillmoor Presets"
if ! find "$sounds" -name '*.qmbank' -print -quit | grep -q .; then
    for bank in "$build"/banks/*.qmbank; do
        [ -f "$bank" ] && cp "$bank" "$sounds/" && echo "Installed demo bank into $sounds"
    done
fi

standalone="$art/Standalone/Quillmoor"
echo "Starting $standalone"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting under a virtual X server (xvfb-run)."
    exec xvfb-run -a "$standalone"
fi
exec "$standalone"
