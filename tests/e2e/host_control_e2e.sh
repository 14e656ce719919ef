#!/usr/bin/env bash
# End-to-end host control: sv-host loads both plug-ins and plays the control-surface host; the
# receiver's transport requests travel plug-in to plug-in into the host, and the host's play
# state comes back to the receiver. Without the control surface the keyboard fallback answers.
# HOST may be the Windows sv-host.exe (run under Wine, with the test encoder): there the play
# requests must run on the host's UI thread, which the simulator's message loop serves.
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
source "$(dirname "$0")/lib.sh"
[ -x "$receiver" ] || sv_skip "the Linux receiver is not built ($receiver)"
e2e_init

hostArgs=(--size 320x240 --seconds 8)
receiveSeconds=4
if [[ "$host" == *.exe ]]; then
  windows=1
  # Wine starts slowly and sends about 23 Mbit/s: a small picture, and time to pair.
  hostArgs=(--test-encoder sync --size 320x180 --fps 15 --seconds 12)
  receiveSeconds=5
  keysTyped="foreground window is not the host's — keys not sent: 0x27(ext) down 0x27(ext) up"
else
  windows=0
  keysTyped="would type: 0x27(ext) down 0x27(ext) up"
fi

# run NAME CTRL [sv-host options --] [receiver options]: CTRL is "auto" or "none"; the run's part of
# the plug-in log lands in NAME.plugin.log
run() {
  local name="$1" ctrl="$2" mark
  shift 2
  local extra=() ctrlArgs=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do extra+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  [ "$ctrl" != none ] && ctrlArgs=(--ctrl "$ctrl")
  mark=$(stat -c %s "$E2E_LOG" 2>/dev/null || echo 0)
  e2e_start_host "$name" "$host" "$plugin" "${ctrlArgs[@]}" "${hostArgs[@]}" "${extra[@]}"
  e2e_wait_listener
  e2e_receive "$name" "$receiver" "$receiveSeconds" "$@"
  e2e_wait_host
  echo $? >"$E2E_WORK/$name.exit"
  tail -c +"$((mark + 1))" "$E2E_LOG" >"$E2E_WORK/$name.plugin.log"
}

summary() {  # NAME PYTHON-EXPRESSION over the summary's stream description `d`
  python3 -c "import json,sys; d=json.load(open(sys.argv[1]))['streamDescription']; sys.exit(0 if ($2) else 1)" "$E2E_WORK/$1.json"
}

# in_order FILE LINE...: the lines occur in FILE in this order.
in_order() {
  local file="$1" at=0 line found
  shift
  for line in "$@"; do
    found=$(tail -n +"$((at + 1))" "$file" | grep -n -m1 -F -- "$line" | cut -d: -f1)
    [ -n "$found" ] || return 1
    at=$((at + found))
  done
}

# The play/pause tasks ran on the thread that installed the dispatcher (the host's UI thread).
on_ui_thread() {
  local log="$E2E_WORK/$1.plugin.log" installed ran
  installed=$(grep -ao "ctrl: Install on thread=[0-9]*" "$log" | head -n1 | cut -d= -f2)
  ran=$(grep -ao "ctrl: WndProc firing on thread=[0-9]*" "$log" | cut -d= -f2 | sort -u)
  [ -n "$installed" ] && [ "$ran" = "$installed" ]
}

run control auto -- --transport play --transport step-fwd --transport play
# Play and pause wait for the UI thread; the step runs at once, wherever it falls between them.
e2e_expect control "the host played, then paused" in_order "$E2E_WORK/control.host.txt" \
  "host: command cmd.transport.play.ctitoout" "host: play state 0 → 1" \
  "host: command program.monitor/cmd.monitor.playstoptoggle" "host: play state 1 → 0"
e2e_expect control "the host stepped forward" grep -q "host: command cmd.transport.step.forward" "$E2E_WORK/control.host.txt"
e2e_expect control "the new-client nudge went through the bridge" grep -q "host: transport JogDial 1 24 0" "$E2E_WORK/control.host.txt"
e2e_expect control "the receiver was told the play state" summary control "d['playbackStateMessages'] >= 1"
e2e_expect control "the surface was connected and shut down cleanly" grep -q "ctrl=connected" "$E2E_WORK/control.host.txt"
e2e_expect control "the host ended well" grep -qx 0 "$E2E_WORK/control.exit"
if [ "$windows" = 1 ]; then
  e2e_expect control "play and pause ran on the host's UI thread" on_ui_thread control
fi

run play auto -- --transport play
e2e_expect play "the receiver heard the host play" summary play "d['playbackStateMessages'] >= 1 and d['playbackState'] == 1"

# A phone that pairs while the host plays learns it at once, with no change of state to report it.
receiveSeconds=2 run playing auto --playing --
e2e_expect playing "the receiver learned the host plays within 2 s" summary playing "d['playbackState'] == 1"
e2e_expect playing "the host's play state never changed" bash -c "! grep -q 'host: play state' '$E2E_WORK/playing.host.txt'"

run nobridge none -- --transport step-fwd
e2e_expect nobridge "without the surface the keyboard answers" grep -qF "$keysTyped" "$E2E_WORK/nobridge.plugin.log"
e2e_expect nobridge "the nudge falls back too" grep -q "Ctrl bridge unavailable — fallback to keyboard nudge" "$E2E_WORK/nobridge.plugin.log"

e2e_finish
