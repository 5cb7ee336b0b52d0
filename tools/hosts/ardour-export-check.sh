#!/usr/bin/env bash
# Renders the instrument through Ardour's headless tools many times and counts the runs that fail.
# Each run makes a fresh session (one MIDI track: a note generator, then the plug-in) and exports
# it to a WAV file. Needs the Debian package `ardour` (ardour7-lua, ardour7-export) and a built
# plug-in. Not part of the test suite: Ardour is large and a run takes a few seconds.
#   tools/hosts/ardour-export-check.sh [runs] [LV2|VST3] [build dir]
set -u
runs=${1:-40}
kind=${2:-LV2}
build=$(cd "${3:-build/release}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
art=$(ls -d "$build"/src/processor/Quillmoor_artefacts/*/LV2 | head -n 1)
art=$(dirname "$art")
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/data"
mkdir -p "$XDG_CONFIG_HOME/ardour7/scripts" "$XDG_DATA_HOME/Velmora/Quillmoor Sounds" "$HOME/.vst3"
cp "$here/qm_notes.lua" "$XDG_CONFIG_HOME/ardour7/scripts/"
cp "$build"/banks/*.qmbank "$XDG_DATA_HOME/Velmora/Quillmoor Sounds/"
export LV2_PATH="$art/LV2"
cp -r "$art/VST3/Quillmoor.vst3" "$HOME/.vst3/"
if [ "$kind" = VST3 ]; then
    # The scanner finds Ardour's own libraries only through the library path; without a cache entry
    # the headless session cannot find the plug-in at all.
    LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst3-scanner "$HOME/.vst3/Quillmoor.vst3" \
        >"$work/scan.log" 2>&1 || { echo "VST3 scan failed"; tail -n 5 "$work/scan.log"; exit 1; }
    id=Quillmoor
else
    id=https://velmora.example/plugins/quillmoor
fi
failed=0
for i in $(seq 1 "$runs"); do
    s="$work/s$i"
    QM_SESSION_DIR="$s" QM_PLUGIN_URI="$id" QM_PLUGIN_TYPE="$kind" \
        timeout 120 ardour7-lua "$here/make_session.lua" >"$work/make$i.log" 2>&1
    # A session without the plug-in would export silence and pass.
    if ! grep -q "session ready" "$work/make$i.log"; then
        failed=$((failed + 1))
        echo "run $i: no session"; grep -E "Error" "$work/make$i.log" | head -n 3
        continue
    fi
    python3 "$here/set_range.py" "$s/qm.ardour" 9
    MALLOC_CHECK_=3 timeout 300 ardour7-export -o "$work/out$i.wav" "$s" qm >"$work/export$i.log" 2>&1
    rc=$?
    if [ $rc -ne 0 ] || grep -q -E 'corrupt|invalid pointer|double free|free\(\)' "$work/export$i.log"; then
        failed=$((failed + 1))
        echo "run $i: exit $rc"; grep -E 'corrupt|invalid|free' "$work/export$i.log" | head -n 3
    fi
    rm -rf "$s"
done
echo "$kind: $failed of $runs exports failed"
[ "$failed" -eq 0 ]
