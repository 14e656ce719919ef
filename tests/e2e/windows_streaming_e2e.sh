#!/usr/bin/env bash
# End-to-end on the Windows build: sv-host.exe under Wine registers the test encoder transform
# (synchronous, then asynchronous) and streams through the Windows plug-in; the Linux
# sv-receiver pairs over loopback, receives, decodes and summarises. Exit 77 (skipped) when the
# Linux receiver is not built or the plug-in has no encoder for the test transform.
set -uo pipefail
hostExe="$1" plugin="$2" receiver="$3"
source "$(dirname "$0")/../../scripts/lib/common.sh"
source "$SV_ROOT/scripts/lib/windows_host.sh"
if [ ! -x "$receiver" ]; then
  echo "skipped: the Linux receiver is not built ($receiver)"
  exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export APPDATA="$work/roaming" XDG_STATE_HOME="$work/state" LOCALAPPDATA="$work/local"
log="$work/local/Sorvane/plugin-x.log"
# The test transform's pictures are raw (1.5 bytes a pixel): 480x270 at 15 fps is about as much
# as Wine's per-datagram sends keep up with on this machine.
size=480x270 fps=15
failures=0 passed=0

# run MODE SECONDS: one streaming run; its summary lands in $work/MODE.json
run() {
  local mode="$1" seconds="$2" before
  before=$(sv_listen_count "$log")
  sv_start_windows_host "$hostExe" "$plugin" "$work/local" "$work/$mode.host.txt" \
    "$((seconds + 90))" --test-encoder "$mode" --size "$size" --fps "$fps" --seconds "$((seconds + 4))"
  local host=$SV_WINDOWS_HOST_PID
  if ! sv_wait_for_listener "$log" "$host" "$before"; then
    wait "$host"
    if grep -aq "dormant" "$work/$mode.host.txt"; then
      echo "skipped: the Windows plug-in stays dormant (no encoder took the test transform)"
      exit 77
    fi
    echo "FAIL $mode: the plug-in never listened"
    cat "$work/$mode.host.txt"
    return 1
  fi
  "$receiver" --code-from-log "$log" --seconds "$seconds" --out "$work/$mode" \
    --summary-json "$work/$mode.json" >"$work/$mode.receiver.txt" 2>&1
  local code=$?
  wait "$host"
  return $code
}

# check NAME DESCRIPTION PYTHON-EXPRESSION (over the summary `s`)
check() {
  if python3 -c "import json,sys; s=json.load(open('$work/$1.json')); v=s['video']; sys.exit(0 if ($3) else 1)" 2>/dev/null; then
    passed=$((passed + 1)); echo "ok   $1: $2"
  else
    failures=$((failures + 1)); echo "FAIL $1: $2"; cat "$work/$1.receiver.txt" 2>/dev/null
  fi
}

ratio="v['framesDecoded'] / max(1, v['lastFrameIndex'] - v['firstFrameIndex'] + 1)"
for mode in sync async; do
  run "$mode" 4 && echo "ran $mode"
  # The second run reconnects with the token the first one stored.
  check "$mode" "paired" "s['pairing'] in ('accepted with code', 'accepted with token')"
  check "$mode" "at least 90% of pushed frames decoded" "$ratio >= 0.90"
  check "$mode" "pictures match the scene (PSNR >= 40 dB)" "v['psnrSamples'] > 3 and v['psnrMinDb'] >= 40"
  check "$mode" "H.264 from the test transform" "v['h264Frames'] > 0 and 'Sorvane Test H.264 Encoder' in s['streamDescription']['encoder']"
done
configured() {
  if grep -aq "$2" "$log"; then
    passed=$((passed + 1)); echo "ok   $1: the log shows \"$2\""
  else
    failures=$((failures + 1)); echo "FAIL $1: no \"$2\" in the plug-in's log"
  fi
}
configured sync "Configure OK: "
configured async "Configure OK (async)"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
