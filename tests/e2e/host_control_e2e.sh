#!/usr/bin/env bash
# End-to-end host control: sv-host loads both plug-ins and plays the control-surface host; the
# receiver's transport requests travel plug-in to plug-in into the host, and the host's play
# state comes back to the receiver. Without the control surface the keyboard fallback answers.
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export LOCALAPPDATA="$work/local" APPDATA="$work/roaming" XDG_STATE_HOME="$work/state"
log="$LOCALAPPDATA/Sorvane/plugin-x.log"
failures=0 passed=0

# run NAME CTRL TRANSPORT: CTRL is "auto" or "none"
run() {
  local name="$1" ctrl="$2" transport="$3" before
  local ctrlArgs=()
  [ "$ctrl" != none ] && ctrlArgs=(--ctrl "$ctrl")
  before=$(grep -c "Listening on" "$log" 2>/dev/null || true)
  "$host" --plugin "$plugin" "${ctrlArgs[@]}" --size 320x240 --seconds 8 >"$work/$name.host.txt" 2>&1 &
  local hostPid=$!
  for _ in $(seq 100); do
    [ "$(grep -c "Listening on" "$log" 2>/dev/null || true)" -gt "${before:-0}" ] && break
    sleep 0.05
  done
  "$receiver" --code-from-log "$log" --seconds 4 --transport "$transport" \
    --summary-json "$work/$name.json" >"$work/$name.receiver.txt" 2>&1
  wait "$hostPid"
  cp "$log" "$work/$name.plugin.log"
}

expect() {  # NAME DESCRIPTION COMMAND...
  local name="$1" what="$2"
  shift 2
  if "$@"; then
    passed=$((passed + 1)); echo "ok   $name: $what"
  else
    failures=$((failures + 1)); echo "FAIL $name: $what"
    cat "$work/$name.host.txt" "$work/$name.receiver.txt"
  fi
}

summary() {  # NAME PYTHON-EXPRESSION over the summary's stream description `d`
  python3 -c "import json,sys; d=json.load(open('$work/$1.json'))['streamDescription']; sys.exit(0 if ($2) else 1)"
}

run play auto play
expect play "the host ran the play request" grep -q "host: command cmd.transport.play.ctitoout" "$work/play.host.txt"
expect play "the host's play state changed" grep -q "host: play state 0 → 1" "$work/play.host.txt"
expect play "the receiver heard the host play" summary play "d['playbackStateMessages'] >= 1 and d['playbackState'] == 1"
expect play "the surface was shut down cleanly" grep -q "ctrl=connected" "$work/play.host.txt"

run step auto step-fwd
expect step "the host stepped forward" grep -q "host: command cmd.transport.step.forward" "$work/step.host.txt"
expect step "the new-client nudge went through the bridge" grep -q "host: transport JogDial 1 24 0" "$work/step.host.txt"

run nobridge none step-fwd
expect nobridge "without the surface the keyboard answers" grep -q "would type: 0x27(ext) down 0x27(ext) up" "$work/nobridge.plugin.log"
expect nobridge "the nudge falls back too" grep -q "Ctrl bridge unavailable — fallback to keyboard nudge" "$work/nobridge.plugin.log"

echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
