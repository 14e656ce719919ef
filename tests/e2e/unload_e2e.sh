#!/usr/bin/env bash
# A host that unloads the plug-ins (at quit, or on a plug-in rescan): the simulator calls the
# unload entries, frees the modules, throws and catches an exception and runs on for 3 s.
# Whatever the plug-ins left running (network threads, handlers) must not take it down. With the
# transmit plug-in alone (nothing else keeps it loaded), with the control surface, each after
# streaming to a paired receiver, and once with no phone at all. HOST may be the Windows
# sv-host.exe (under Wine).
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
source "$(dirname "$0")/lib.sh"
[ -x "$receiver" ] || sv_skip "the Linux receiver is not built ($receiver)"
e2e_init

hostArgs=(--size 320x240 --seconds 6)
receiveSeconds=3
if [[ "$host" == *.exe ]]; then
  # Wine takes a few seconds to open the first encoder: time enough for pictures to follow.
  hostArgs=(--test-encoder sync --size 320x180 --fps 15 --seconds 12)
  receiveSeconds=6
fi

# finish_host NAME: waits for the host to end, at most three minutes (a host that hangs after the
# unload is killed); its exit code lands in NAME.exit.
finish_host() {
  local code _
  for _ in $(seq 1800); do
    kill -0 "$E2E_HOST_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$E2E_HOST_PID" 2>/dev/null; then
    kill "$E2E_HOST_PID" 2>/dev/null
    code=124
  fi
  wait "$E2E_HOST_PID"
  echo "${code:-$?}" >"$E2E_WORK/$1.exit"
}

# run NAME PHONE [sv-host options...]: PHONE is "phone" (a receiver pairs and streams) or "none".
run() {
  local name="$1" phone="$2"
  shift 2
  e2e_start_host "$name" "$host" "$plugin" --unload "${hostArgs[@]}" "$@"
  e2e_wait_listener
  [ "$phone" = phone ] && e2e_receive "$name" "$receiver" "$receiveSeconds"
  finish_host "$name"
}

survived() {
  e2e_expect "$1" "the host unloaded the modules and ran on for 3 s" grep -q "sv-host: still running 3 s after the unload" "$E2E_WORK/$1.host.txt"
  e2e_expect "$1" "the host exited 0" grep -qx 0 "$E2E_WORK/$1.exit"
}

run alone phone
run withctrl phone --ctrl auto
for name in alone withctrl; do
  e2e_check "$name" "the receiver paired and decoded pictures" "s['pairing'].startswith('accepted') and v['framesDecoded'] > 0"
  survived "$name"
done
e2e_expect withctrl "the control surface was connected" grep -q "ctrl=connected" "$E2E_WORK/withctrl.host.txt"
run nophone none
survived nophone

e2e_finish
