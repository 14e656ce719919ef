#!/usr/bin/env bash
# End-to-end on the Windows build: sv-host.exe under Wine registers the test encoder transform
# (synchronous, then asynchronous) and streams through the Windows plug-in; the Linux
# sv-receiver pairs over loopback, receives, decodes and summarises. A plug-in that stays dormant
# (no encoder took the test transform) fails the test.
set -uo pipefail
hostExe="$1" plugin="$2" receiver="$3"
source "$(dirname "$0")/lib.sh"
[ -x "$receiver" ] || sv_skip "the Linux receiver is not built ($receiver)"
e2e_init
# The test transform's pictures are raw (1.5 bytes a pixel): 480x270 at 15 fps is about as much
# as Wine's per-datagram sends keep up with on this machine.
size=480x270 fps=15

# run MODE SECONDS: one streaming run; its summary lands in MODE.json
run() {
  local mode="$1" seconds="$2"
  e2e_start_host "$mode" "$hostExe" "$plugin" --test-encoder "$mode" --size "$size" --fps "$fps" \
    --seconds "$((seconds + 4))"
  if ! sv_wait_for_listener "$E2E_LOG" "$E2E_HOST_PID" "$E2E_LISTEN_BEFORE"; then
    e2e_wait_host
    if grep -aq "dormant" "$E2E_WORK/$mode.host.txt"; then
      echo "FAIL $mode: the Windows plug-in stays dormant (no encoder took the test transform)"
    else
      echo "FAIL $mode: the plug-in never listened"
    fi
    cat "$E2E_WORK/$mode.host.txt"
    exit 1
  fi
  e2e_receive "$mode" "$receiver" "$seconds"
  local code=$?
  e2e_wait_host
  return $code
}

ratio="$E2E_DECODED_SHARE"
for mode in sync async; do
  # Under Wine the first pairing (by code, with its dialog) and the encoder's first configure take
  # a few seconds of the run.
  run "$mode" 8 && echo "ran $mode"
  # The second run reconnects with the token the first one stored.
  e2e_check "$mode" "paired" "s['pairing'] in ('accepted with code', 'accepted with token')"
  e2e_check "$mode" "at least 90% of pushed frames decoded" "$ratio >= 0.90"
  e2e_check "$mode" "pictures match the scene (PSNR >= 40 dB)" "v['psnrSamples'] > 3 and v['psnrMinDb'] >= 40"
  e2e_check "$mode" "H.264 from the test transform" "v['h264Frames'] > 0 and 'Sorvane Test H.264 Encoder' in s['streamDescription']['encoder']"
done
configured() {
  e2e_expect "$1" "the log shows \"$2\"" grep -aq "$2" "$E2E_LOG"
}
configured sync "Configure OK: "
configured async "Configure OK (async)"

e2e_finish
