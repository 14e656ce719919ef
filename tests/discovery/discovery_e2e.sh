#!/usr/bin/env bash
# Discovery for real, inside a private network namespace that this script creates (nothing it
# publishes leaves the namespace): a system bus and avahi-daemon of its own, sv-host streaming
# through the plug-in, then avahi-browse must show the service with its TXT keys, the entry must
# come back after the daemon restarts, and sv-receiver must find it, pair and receive video.
# Usage: discovery_e2e.sh SV-HOST SV-RECEIVER PLUGIN     (exit 77: skipped)
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
[ -x "$host" ] && [ -x "$receiver" ] && [ -f "$plugin" ] || { echo "usage: $0 SV-HOST SV-RECEIVER PLUGIN" >&2; exit 2; }

if [ -z "${SV_DISCOVERY_IN_NETNS:-}" ]; then
  if unshare --net --mount --propagation private true 2>/dev/null; then
    SV_DISCOVERY_IN_NETNS=1 exec unshare --net --mount --propagation private bash "$0" "$@"
  fi
  # A user namespace would not do: avahi-daemon hands its runtime folder to its own user, which
  # does not exist there.
  echo "SKIP: cannot create a private network and mount namespace here (unshare --net --mount" \
    "needs root)"
  exit 77
fi

work="$(mktemp -d)"
export LOCALAPPDATA="$work/local" APPDATA="$work/roaming" XDG_STATE_HOME="$work/state"
export XDG_CONFIG_HOME="$work/config"
log="$LOCALAPPDATA/Sorvane/plugin-x.log"
port=47130
hostPid="" avahiPid="" dbusPid="" decoyPid="" watchPid=""
failures=0 passed=0

stop_pid() {  # stop_pid PID: ends one process we started and waits until it is gone
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$1" 2>/dev/null
}
cleanup() {
  stop_pid "$decoyPid"
  stop_pid "$watchPid"
  stop_pid "$hostPid"
  stop_pid "$avahiPid"
  stop_pid "$dbusPid"
  rm -rf "$work"
}
trap cleanup EXIT

ok() { passed=$((passed + 1)); echo "ok   $*"; }
fail() { failures=$((failures + 1)); echo "FAIL $*"; }
# wait_for SECONDS COMMAND...: polls every 0.1 s
wait_for() {
  local tenths=$(($1 * 10))
  shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}

# The namespace's own network: loopback and a veth pair that avahi publishes on.
for dir in /run/dbus /run/avahi-daemon; do
  mkdir -p "$dir" && mount -t tmpfs tmpfs "$dir" || { echo "FAIL cannot mount a private $dir"; exit 1; }
done
ip link set lo up
ip link add svd0 type veth peer name svd1 || { echo "FAIL cannot create a veth pair"; exit 1; }
ip addr add 10.77.0.1/24 dev svd0
ip addr add 10.77.0.2/24 dev svd1
ip link set svd0 multicast on up
ip link set svd1 multicast on up

# A system bus of our own: where the real one would be, open to every local user of the namespace.
cat >"$work/bus.conf" <<CONF
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
CONF
dbusPid="$(dbus-daemon --config-file="$work/bus.conf" --fork --print-pid)" ||
  { echo "FAIL dbus-daemon did not start"; exit 1; }
cat >"$work/avahi.conf" <<CONF
[server]
allow-interfaces=svd0
use-ipv6=no
[publish]
publish-aaaa-on-ipv4=no
publish-workstation=no
CONF
start_avahi() {
  avahi-daemon -f "$work/avahi.conf" --daemonize --no-drop-root --no-chroot >"$work/avahi.txt" 2>&1 ||
    return 1
  wait_for 5 test -s /run/avahi-daemon/pid || return 1
  avahiPid="$(cat /run/avahi-daemon/pid)"
}
start_avahi || { echo "FAIL avahi-daemon did not start"; cat "$work/avahi.txt"; exit 1; }

# Our service as avahi-browse resolves it: "=;iface;proto;name;type;domain;host;address;port;txt"
browse() { avahi-browse -rpt _sorvane._tcp 2>/dev/null | grep "^=" | grep ";$port;"; }

# A known identity, and another service already holding the name the plug-in will ask for.
id="e2e-install-0001"
name="Edit Bay"
advertised="$name — Unknown Host"
mkdir -p "$APPDATA/Sorvane"
printf '{"id":"%s","name":"%s","discoverable":"true","enableAsyncHwEncoders":"false"}\n' "$id" "$name" \
  >"$APPDATA/Sorvane/install.json"
avahi-publish -s "$advertised" _sorvane._tcp 9 >"$work/decoy.txt" 2>&1 &
decoyPid=$!
wait_for 5 grep -qs "Established" "$work/decoy.txt" || { fail "a decoy service is published"; exit 1; }

"$host" --plugin "$plugin" --seconds 90 >"$work/host.txt" 2>&1 &
hostPid=$!
if wait_for 15 grep -qs "advertising :$port" "$log"; then
  ok "the plug-in advertises"
else
  fail "the plug-in advertises"; grep mdns "$log"; exit 1
fi

entry="$(browse | head -n1)"
instance="$(echo "$entry" | cut -d';' -f4)"
[ "$instance" = 'Edit\032Bay\032\226\128\148\032Unknown\032Host\032\0352' ] &&
  grep -q "Avahi name collision" "$log" &&
  ok "a taken name is replaced by Avahi's alternative (${instance})" ||
  fail "a taken name is replaced by Avahi's alternative (${instance})"
stop_pid "$decoyPid"
echo "browse: $entry"
[ -n "$entry" ] && ok "avahi-browse finds _sorvane._tcp on :$port" || fail "avahi-browse finds _sorvane._tcp on :$port"
txt="${entry##*;}"
logged="$(grep -o "advertising :$port .*transmit=[01]" "$log" | head -n1 | grep -o '[01]$')"
python3 - "$txt" "$id" "$logged" <<'PY' && ok "TXT ver=4, id, name, transmit in order" || fail "TXT ver=4, id, name, transmit in order: $txt"
import re, sys
txt, install_id, logged_transmit = sys.argv[1:4]
items = re.findall(r'"((?:[^"\\]|\\.)*)"', txt)
keys = [i.split("=", 1)[0] for i in items]
values = dict(i.split("=", 1) for i in items)
# avahi-browse lists a TXT record's strings last to first
sys.exit(0 if keys == ["transmit", "name", "id", "ver"] and values["ver"] == "4"
         and values["id"] == install_id + "-x" and values["name"]
         and values["transmit"] == logged_transmit else 1)
PY

# Self-heal: the restarted daemon has forgotten every entry; ours must come back by itself. A
# browser that follows the daemon across the restart notes when it sees the entry again.
stdbuf -oL avahi-browse -rpf _sorvane._tcp >"$work/watch.txt" 2>/dev/null &
watchPid=$!
wait_for 5 grep -q ";$port;" "$work/watch.txt"
seen() { [ "$(grep -c "^=.*;$port;" "$work/watch.txt")" -gt "$1" ]; }
stop_pid "$avahiPid"
avahiPid=""
wait_for 5 bash -c '! test -e /run/avahi-daemon/pid'
before="$(grep -c "^=.*;$port;" "$work/watch.txt")"
start_avahi || { fail "avahi-daemon restarts"; exit 1; }
restarted=$(date +%s.%N)
if wait_for 10 seen "$before"; then
  back=$(python3 -c "import time; print(f'{time.time() - $restarted:.1f}')")
  echo "entry back ${back} s after the daemon restarted"
  python3 -c "import sys; sys.exit(0 if $back <= 5.0 else 1)" &&
    ok "entry back within 5 s of the daemon's restart (${back} s)" ||
    fail "entry back within 5 s of the daemon's restart (${back} s)"
else
  fail "entry back after the daemon's restart"; grep mdns "$log" | tail -n 20
fi
stop_pid "$watchPid"
browse >/dev/null && ok "avahi-browse -rpt finds it again" || fail "avahi-browse -rpt finds it again"

if "$receiver" --list >"$work/list.txt" 2>&1 && grep -q ":$port" "$work/list.txt"; then
  ok "sv-receiver --list shows the service"
else
  fail "sv-receiver --list shows the service"; cat "$work/list.txt"
fi

# SV_E2E_TIME_SCALE stretches the run for builds that stream slower than real time.
"$receiver" --discover --code-from-log "$log" --seconds "$((4 * ${SV_E2E_TIME_SCALE:-1}))" \
  --out "$work/received" \
  --summary-json "$work/summary.json" >"$work/receiver.txt" 2>&1
code=$?
if [ $code -eq 0 ] && python3 -c "import json,sys; s=json.load(open('$work/summary.json')); sys.exit(0 if s['pairing']=='accepted with code' and s['video']['framesDecoded'] > 30 else 1)"; then
  ok "sv-receiver --discover pairs and decodes video"
else
  fail "sv-receiver --discover pairs and decodes video (exit $code)"; cat "$work/receiver.txt"
fi

"$receiver" --discover="$advertised" --seconds 1 >"$work/named.txt" 2>&1 &&
  grep -q "pairing accepted with token" "$work/named.txt" &&
  ok "--discover=NAME finds the service by its TXT name and reconnects with the token" ||
  { fail "--discover=NAME finds the service by its TXT name and reconnects with the token"; cat "$work/named.txt"; }

"$receiver" --discover=no-such-plugin --seconds 1 >"$work/nomatch.txt" 2>&1
[ $? -ne 0 ] && ok "--discover=NAME with no such service fails" || fail "--discover=NAME with no such service fails"

echo "the plug-in's discovery log:"
grep -E ":mdns:|Bonjour" "$log" | sed 's/^/  /'
echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
