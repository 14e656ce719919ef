#!/usr/bin/env bash
# End-to-end: sv-receiver --preview under a virtual X display shows the decoded pictures in its
# window within 2 s of the window appearing (the window's pixels compared with the decoded frames),
# `i` hides the status line, Esc (a real key press through X) ends the run cleanly; without a
# display the receiver says so and completes the run.
set -uo pipefail
host="$1" receiver="$2" plugin="$3" screenshot="$4"
source "$(dirname "$0")/lib.sh"
for tool in xvfb-run xdotool ffmpeg python3; do
  command -v "$tool" >/dev/null || sv_skip "$tool is not installed"
done
here="$(cd "$(dirname "$0")" && pwd)"
e2e_init
work="$E2E_WORK" log="$E2E_LOG"
failures=0

fail() { failures=$((failures + 1)); echo "FAIL $*"; }

# start_host SECONDS: sv-host streams its scene until then; returns once the plug-in listens.
start_host() {
  e2e_start_host host "$host" "$plugin" --seconds "$1"
  e2e_wait_listener
}

stop_host() {
  kill "$E2E_HOST_PID" 2>/dev/null
  wait "$E2E_HOST_PID" 2>/dev/null
}

start_host 120
mkdir -p "$(dirname "$screenshot")"
xvfb-run -a -s "-screen 0 1280x800x24" \
  bash "$here/preview_session.sh" "$receiver" "$log" "$work/session" "$screenshot"
[ $? -eq 0 ] || fail "the preview session (see above)"
stop_host

start_host 10
env -u DISPLAY -u WAYLAND_DISPLAY "$receiver" --preview --code-from-log "$log" --seconds 3 \
  --summary-json "$work/headless.json" >"$work/headless.txt" 2>&1
code=$?
stop_host
if [ $code -ne 0 ]; then
  fail "without a display the run ends with $code"; cat "$work/headless.txt"
elif ! grep -q "no display for the preview" "$work/headless.txt"; then
  fail "without a display the receiver does not say so"; cat "$work/headless.txt"
elif ! python3 -c "import json,sys; s=json.load(open('$work/headless.json')); sys.exit(0 if s['video']['framesDecoded'] > 30 else 1)"; then
  fail "without a display the receiver decoded too little"; cat "$work/headless.txt"
else
  echo "ok   without a display: says so, still receives and decodes, exit code 0"
fi

[ $failures -eq 0 ] && echo "all preview checks passed"
[ $failures -eq 0 ]
