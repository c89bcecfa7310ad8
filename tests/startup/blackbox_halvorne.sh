#!/usr/bin/env bash
# Runs the built Halvorne as the host application would, under a virtual X
# server, presses Return on the message box it shows and checks the exit
# code and the configuration file.
#   blackbox_halvorne.sh <Halvorne binary> <file holding the launch marker>
set -euo pipefail
BIN=$1
MARKER=$(cat "$2")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# A copy in a fresh directory: the configuration file lies beside the program.
cp "$BIN" "$WORK/Halvorne"

fail() { echo "FAIL: $*" >&2; exit 1; }

# case <expected exit code> <expected box title> [arguments...]
run_case() {
  local expect=$1 title=$2; shift 2
  local rc=0
  xvfb-run -a -s "-screen 0 1024x768x24" \
    bash "$HERE/blackbox_press_return.sh" "$WORK/Halvorne" "$title" "$WORK/result" "$@" || rc=$?
  [ "$rc" -eq 0 ] || fail "driver failed ($rc) for: $*"
  local got; got=$(cat "$WORK/result")
  [ "$got" = "$expect" ] || fail "exit code $got, expected $expect, for arguments: $*"
  echo "ok: exit $got for arguments: $*"
}

# No arguments: the warning, exit code 0, and no configuration file.
run_case 0 "Upozornění"
[ ! -e "$WORK/Halvorne.INI" ] || fail "Halvorne.INI was created without the launch marker"

# A wrong first argument: the same.
run_case 0 "Upozornění" "x${MARKER}" dokum "/p:$WORK/out/" auto
[ ! -e "$WORK/Halvorne.INI" ] || fail "Halvorne.INI was created without the launch marker"

# The launch marker alone: "Chybné parametry programu", exit code 99, and
# the configuration file now exists with its three keys.
run_case 99 "Chyba" "$MARKER"
expected=$'[Proxy Server]\nUseProxy=0\nProxyName=\nProxyPort=0'
[ "$(cat "$WORK/Halvorne.INI")" = "$expected" ] || fail "unexpected Halvorne.INI: $(cat "$WORK/Halvorne.INI")"
# A second program of the same build (halvorne_add_program) with its own
# marker and a server on a closed loopback port: the configured marker is
# foreign to it, its own one starts the documentation task, which finds
# nothing (29) and closes the window, ending the program by itself.
if [ -n "${HALVORNE_PROBE:-}" ]; then
  PROBE_MARKER=$(cat "$HALVORNE_PROBE_MARKER_FILE")
  cp "$HALVORNE_PROBE" "$WORK/Halvorne"
  rm -f "$WORK/Halvorne.INI"
  run_case 0 "Upozornění" "$MARKER" dokum "/p:$WORK/out/" auto
  mkdir -p "$WORK/out"
  rc=0
  QT_QPA_PLATFORM=offscreen timeout 30 "$WORK/Halvorne" "$PROBE_MARKER" DOKUM "/p:$WORK/out" auto >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 29 ] || fail "the probe's documentation task ended with $rc, expected 29"
  [ -f "$WORK/Halvorne.INI" ] || fail "the probe did not create its configuration file"
  echo "ok: exit 29 for the documentation task of the second program"
fi
echo "all black-box cases passed"
