#!/usr/bin/env bash
# Installs what is missing, builds the normal, the sanitizer and the fuzz
# configuration, runs the whole test suite under a private Xvfb, then each
# fuzz target for 20 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh --tests

export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 PLUMARO_NO_REVEAL=1
xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT

# A free display number of our own, so a developer's X server is never used.
# -noreset: a server that resets whenever its last client leaves refuses the
# next connection for a moment, and a program starting then has no display.
num=91
while [ -e "/tmp/.X11-unix/X$num" ] || [ -e "/tmp/.X$num-lock" ]; do num=$((num + 1)); done
Xvfb ":$num" -screen 0 1920x1080x24 -nolisten tcp -noreset >/tmp/plumaro-xvfb-$num.log 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$num" ] && break; sleep 0.1; done
export DISPLAY=":$num"

status=0
echo "== tests (release build)"
ctest --test-dir build --output-on-failure -j 2 || status=1
echo "== tests (address and undefined-behaviour sanitizers)"
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j 2 -LE slow || status=1
echo "== fuzz targets (20 s each)"
tests/fuzz/run.sh 20 || status=1
exit $status
