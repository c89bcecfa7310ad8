#!/usr/bin/env bash
# Configures a bare project that includes cmake/HalvorneConfig.cmake with
# the update keys and addresses a publisher might give: the demo key with
# a public address and an empty key without the opt-in must fail with a
# reason, the rest must pass (an empty key with a warning).
set -u
config=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
printf 'cmake_minimum_required(VERSION 3.20)\nproject(keys NONE)\ninclude("%s")\n' "$config" > "$work/src/CMakeLists.txt"
failures=0
# expect: pass|fail, the text the output must hold, then the -D options.
check() {
  local expect=$1 text=$2
  shift 2
  rm -rf "$work/b"
  local out rc
  out=$(cmake -S "$work/src" -B "$work/b" "$@" 2>&1)
  rc=$?
  if [[ $expect == pass && $rc -ne 0 ]] || [[ $expect == fail && $rc -eq 0 ]] || ! grep -q -- "$text" <<<"$(tr -s ' \n' ' ' <<<"$out")"; then
    echo "FAILED: $* (expected $expect with '$text', exit $rc)"
    echo "$out"
    failures=$((failures + 1))
  fi
}
check fail "not a loopback address" -DHALVORNE_VERSION_DIR_ADDRESS=https://update.example.com/halvorne/
check fail "not a loopback address" -DHALVORNE_VERSION_DIR_ADDRESS=http://127.0.0.1.example.com/halvorne/
check fail "HALVORNE_ALLOW_UNSIGNED=ON" -DHALVORNE_UPDATE_PUBLIC_KEY=
check pass "takes downloaded files without signatures" -DHALVORNE_UPDATE_PUBLIC_KEY= -DHALVORNE_ALLOW_UNSIGNED=ON
check pass "Configuring done" -DHALVORNE_VERSION_DIR_ADDRESS=https://localhost:9/halvorne/
check pass "Configuring done" "-DHALVORNE_VERSION_DIR_ADDRESS=http://[::1]:9/halvorne/"
# A publisher's own key with a public address is what a release is.
check pass "Configuring done" -DHALVORNE_VERSION_DIR_ADDRESS=https://update.example.com/halvorne/ \
  -DHALVORNE_UPDATE_PUBLIC_KEY=RWR5V+3DUmfvnqFGyeYAOXLAHzF37F1hMUCwDNkJag70vvK9UaieuwQh
echo "$((7 - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
