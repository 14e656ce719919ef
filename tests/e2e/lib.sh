# The end-to-end scripts' common steps: a profile of the run's own, the host simulator started with
# a kill-on-exit trap, the wait for its listener (failing hard), the receiver's run and the checks
# of its summary, and skips that CI refuses.
# Usage: source it, then e2e_init; e2e_start_host ...; e2e_wait_listener; e2e_receive ...;
# e2e_check ...; e2e_finish.
# shellcheck shell=bash

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/common.sh"
source "$SV_ROOT/scripts/lib/windows_host.sh"

E2E_PIDS=()
E2E_PASSED=0
E2E_FAILED=0

# e2e_init: a fresh work folder ($E2E_WORK) holding the run's profile; the plug-in log is $E2E_LOG.
# Every process started through this library is killed when the script exits, however it exits.
e2e_init() {
  E2E_WORK="$(mktemp -d)"
  E2E_PROFILE="$E2E_WORK/profile"
  mkdir -p "$E2E_PROFILE/roaming" "$E2E_PROFILE/local"
  export APPDATA="$E2E_PROFILE/roaming" XDG_CONFIG_HOME="$E2E_PROFILE/roaming"
  export LOCALAPPDATA="$E2E_PROFILE/local" XDG_STATE_HOME="$E2E_PROFILE/local"
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/sorvane-test-bus"  # never advertise for real
  E2E_LOG="$E2E_PROFILE/local/Sorvane/plugin-x.log"
  trap e2e_cleanup EXIT
}

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  [ -n "${SV_KEEP_E2E:-}" ] && echo "kept $E2E_WORK" || rm -rf "$E2E_WORK"
}

# sv_skip REASON: exit 77 (skipped), or under CI a failure: a feature that did not run must never
# pass for one that works.
sv_skip() {
  if [ -n "${CI:-}" ] && [ "${CI:-}" != 0 ] && [ "${CI:-}" != false ]; then
    echo "FAIL (CI refuses the skip): $*"
    [ -n "${SV_SKIP_LOG:-}" ] && printf '%s\t%s\t%s\t%s\n' "$(basename "$0" .sh)" "-" unexplained "$*" >>"$SV_SKIP_LOG"
    exit 1
  fi
  echo "SKIP: $*"
  [ -n "${SV_SKIP_LOG:-}" ] && printf '%s\t%s\t%s\t%s\n' "$(basename "$0" .sh)" "-" unexplained "$*" >>"$SV_SKIP_LOG"
  exit 77
}

# e2e_scaled SECONDS: SV_E2E_TIME_SCALE stretches runs for builds that stream slower than real time.
e2e_scaled() {
  echo $(($1 * ${SV_E2E_TIME_SCALE:-1}))
}

# How many times the plug-in's log says it listens (0 before the log exists).
e2e_listenings() {
  sv_listen_count "$E2E_LOG"
}

# e2e_start_host NAME HOST PLUGIN [sv-host options...]: starts the host simulator in the background
# in the run's profile, its output in $E2E_WORK/NAME.host.txt; sets E2E_HOST_PID and
# E2E_LISTEN_BEFORE. A HOST ending in .exe runs under Wine inside a virtual display.
e2e_start_host() {
  local name="$1" host="$2" plugin="$3"
  shift 3
  E2E_LISTEN_BEFORE=$(e2e_listenings)
  if [[ "$host" == *.exe ]]; then
    sv_start_windows_host "$host" "$plugin" "$E2E_PROFILE" "$E2E_WORK/$name.host.txt" 600 "$@"
    E2E_HOST_PID=$SV_WINDOWS_HOST_PID
  else
    "$host" --plugin "$plugin" --profile "$E2E_PROFILE" "$@" >"$E2E_WORK/$name.host.txt" 2>&1 &
    E2E_HOST_PID=$!
  fi
  E2E_PIDS+=("$E2E_HOST_PID")
  E2E_HOST_NAME="$name"
}

# e2e_wait_listener: waits until the host just started listens; a host that ends first or never
# listens fails the whole script at once, with what it said.
e2e_wait_listener() {
  if sv_wait_for_listener "$E2E_LOG" "$E2E_HOST_PID" "$E2E_LISTEN_BEFORE"; then
    return 0
  fi
  echo "FAIL $E2E_HOST_NAME: the plug-in never listened; the host said:"
  cat "$E2E_WORK/$E2E_HOST_NAME.host.txt"
  [ -f "$E2E_LOG" ] && tail -n 30 "$E2E_LOG"
  exit 1
}

# e2e_wait_host: waits for the host just started to end; returns its exit code.
e2e_wait_host() {
  wait "$E2E_HOST_PID"
}

# e2e_receive NAME RECEIVER SECONDS [receiver options...]: pairs with the code from the plug-in's
# log and receives; the summary lands in $E2E_WORK/NAME.json, the output in NAME.receiver.txt.
e2e_receive() {
  local name="$1" receiver="$2" seconds="$3"
  shift 3
  "$receiver" --code-from-log "$E2E_LOG" --seconds "$seconds" --out "$E2E_WORK/$name" \
    --summary-json "$E2E_WORK/$name.json" "$@" >"$E2E_WORK/$name.receiver.txt" 2>&1
}

e2e_pass() {
  E2E_PASSED=$((E2E_PASSED + 1))
  echo "ok   $*"
}

e2e_fail() {
  E2E_FAILED=$((E2E_FAILED + 1))
  echo "FAIL $*"
}

# e2e_check NAME DESCRIPTION PYTHON-EXPRESSION: the expression over the summary `s` (its video
# part `v`, its stream description `d`) of run NAME must hold.
e2e_check() {
  local name="$1" what="$2" expression="$3"
  if python3 -c "import json,sys; s=json.load(open(sys.argv[1])); v=s.get('video', {}); d=s.get('streamDescription', {}); sys.exit(0 if ($expression) else 1)" \
    "$E2E_WORK/$name.json"; then
    e2e_pass "$name: $what"
  else
    e2e_fail "$name: $what"
    cat "$E2E_WORK/$name.receiver.txt" 2>/dev/null
  fi
}

# e2e_expect NAME DESCRIPTION COMMAND...: the command must succeed.
e2e_expect() {
  local name="$1" what="$2"
  shift 2
  if "$@"; then
    e2e_pass "$name: $what"
  else
    e2e_fail "$name: $what"
    cat "$E2E_WORK/$name.host.txt" "$E2E_WORK/$name.receiver.txt" 2>/dev/null
  fi
}

# Frames decoded over the frame indices the receiver's window covered (for e2e_check).
E2E_DECODED_SHARE="v['framesDecoded'] / max(1, v['lastFrameIndex'] - v['firstFrameIndex'] + 1)"

# e2e_finish: prints the tally; the script's exit status.
e2e_finish() {
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  [ "$E2E_FAILED" -eq 0 ]
}
