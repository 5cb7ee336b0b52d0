#!/usr/bin/env bash
# Runs a command under a virtual X server of its own at 96 dpi (scale 1). The server picks a free
# display number and reports it through a pipe (-displayfd), so parallel runs never race for one.
# -noreset keeps what one client sets up on the server (atoms) after it disconnects.
set -uo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkfifo "$dir/display"
Xvfb -displayfd 3 -dpi 96 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
server=$!
if ! read -r -t 20 number <"$dir/display"; then
    echo "with_xvfb: the X server did not start" >&2
    cat "$dir/xvfb.log" >&2
    kill "$server" 2>/dev/null
    exit 1
fi
DISPLAY=":$number" "$@"
rc=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit $rc
