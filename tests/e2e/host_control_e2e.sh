#!/usr/bin/env bash
# End-to-end host control: sv-host loads both plug-ins and plays the control-surface host; the
# receiver's transport requests travel plug-in to plug-in into the host, and the host's play
# state comes back to the receiver. Without the control surface the keyboard fallback answers.
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
source "$(dirname "$0")/lib.sh"
e2e_init

# run NAME CTRL TRANSPORT: CTRL is "auto" or "none"; the run's part of the plug-in log lands in
# NAME.plugin.log
run() {
  local name="$1" ctrl="$2" transport="$3" mark
  local ctrlArgs=()
  [ "$ctrl" != none ] && ctrlArgs=(--ctrl "$ctrl")
  mark=$(stat -c %s "$E2E_LOG" 2>/dev/null || echo 0)
  e2e_start_host "$name" "$host" "$plugin" "${ctrlArgs[@]}" --size 320x240 --seconds 8
  e2e_wait_listener
  e2e_receive "$name" "$receiver" 4 --transport "$transport"
  e2e_wait_host
  tail -c +"$((mark + 1))" "$E2E_LOG" >"$E2E_WORK/$name.plugin.log"
}

summary() {  # NAME PYTHON-EXPRESSION over the summary's stream description `d`
  python3 -c "import json,sys; d=json.load(open(sys.argv[1]))['streamDescription']; sys.exit(0 if ($2) else 1)" "$E2E_WORK/$1.json"
}

run play auto play
e2e_expect play "the host ran the play request" grep -q "host: command cmd.transport.play.ctitoout" "$E2E_WORK/play.host.txt"
e2e_expect play "the host's play state changed" grep -q "host: play state 0 → 1" "$E2E_WORK/play.host.txt"
e2e_expect play "the receiver heard the host play" summary play "d['playbackStateMessages'] >= 1 and d['playbackState'] == 1"
e2e_expect play "the surface was shut down cleanly" grep -q "ctrl=connected" "$E2E_WORK/play.host.txt"

run step auto step-fwd
e2e_expect step "the host stepped forward" grep -q "host: command cmd.transport.step.forward" "$E2E_WORK/step.host.txt"
e2e_expect step "the new-client nudge went through the bridge" grep -q "host: transport JogDial 1 24 0" "$E2E_WORK/step.host.txt"

run nobridge none step-fwd
e2e_expect nobridge "without the surface the keyboard answers" grep -q "would type: 0x27(ext) down 0x27(ext) up" "$E2E_WORK/nobridge.plugin.log"
e2e_expect nobridge "the nudge falls back too" grep -q "Ctrl bridge unavailable — fallback to keyboard nudge" "$E2E_WORK/nobridge.plugin.log"

e2e_finish
