#!/usr/bin/env bash
# Inside xvfb-run: starts the program, waits for its window with the given
# title, presses Return in it and writes the program's exit code to a file.
#   blackbox_press_return.sh <program> <title> <result file> [arguments...]
set -uo pipefail
PROG=$1 TITLE=$2 RESULT=$3; shift 3
# The virtual X server, whatever the caller chose for its own Qt programs.
export QT_QPA_PLATFORM=xcb
"$PROG" "$@" >/dev/null 2>&1 &
pid=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name "^${TITLE}\$" | head -n1)
if [ -z "$win" ]; then
  echo "no window titled '$TITLE' appeared" >&2
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 2
fi
timeout 10 xdotool windowfocus --sync "$win"
xdotool key --window "$win" Return
# The program must end by itself now; give it a bounded time.
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "the program did not end after the box was closed" >&2
  kill "$pid"
  wait "$pid" 2>/dev/null
  exit 3
fi
wait "$pid"
echo $? > "$RESULT"
