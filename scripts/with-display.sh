#!/usr/bin/env bash
# Runs one command on a private Xvfb server, so parallel tests never share a display.
set -u
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r -t 30 display <"$fifo"
rm -f "$fifo"
if [ -z "${display:-}" ]; then
    echo "with-display: Xvfb did not start" >&2
    kill "$xvfb" 2>/dev/null
    exit 1
fi
DISPLAY=":$display" "$@"
status=$?
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $status
