# Starting the Windows sv-host.exe under Wine with the test encoder transform, shared by
# `scripts/demo --windows` and the Windows end-to-end test.
# shellcheck shell=bash

# The Windows form of a Linux path (Wine's Z: drive is the Linux root).
sv_windows_path() {
  local p="Z:$1"
  printf '%s' "${p//\//\\}"
}

# sv_start_windows_host HOST_EXE PLUGIN PROFILE_DIR TRANSCRIPT TIMEOUT_S [sv-host args...]
# Starts sv-host.exe in the background inside xvfb-run; sets SV_WINDOWS_HOST_PID. The plug-in
# keeps its state in PROFILE_DIR/roaming and its log and dumps in PROFILE_DIR/local (Wine rewrites
# APPDATA and LOCALAPPDATA for its programs, so the folders are given on the command line).
sv_start_windows_host() {
  local hostExe="$1" plugin="$2" profile="$3" transcript="$4" limit="$5"
  shift 5
  timeout "$limit" xvfb-run -a "$SV_ROOT/scripts/wine-run" "$hostExe" --plugin "$(sv_windows_path "$plugin")" \
    --profile "$profile" "$@" >"$transcript" 2>&1 &
  SV_WINDOWS_HOST_PID=$!
}

# The number of "Listening on" lines in the plug-in's log (0 before it exists).
sv_listen_count() {
  local count
  count=$(grep -ac "Listening on" "$1" 2>/dev/null)
  printf '%s' "${count:-0}"
}

# sv_wait_for_listener LOG PID [BEFORE]: waits (up to a minute: Wine starts slowly) until the log
# holds more "Listening on" lines than BEFORE; false when the host ended first or never listened.
sv_wait_for_listener() {
  local log="$1" pid="$2" before="${3:-0}" _
  for _ in $(seq 600); do
    [ "$(sv_listen_count "$log")" -gt "$before" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ "$(sv_listen_count "$log")" -gt "$before" ]
}
