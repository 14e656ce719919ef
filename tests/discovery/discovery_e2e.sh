#!/usr/bin/env bash
# Discovery for real, inside a private network namespace that this script creates (nothing it
# publishes leaves the namespace): a system bus and avahi-daemon of its own, sv-host streaming
# through the plug-in, then avahi-browse must show the service with its TXT keys and the transmit
# state, the entry must stay put for a minute of streaming (sv-receiver --list --watch sees one
# appearance and no disappearance, the plug-in registers nothing again), come back after the
# daemon restarts, and sv-receiver must find it, pair and receive video.
# Usage: discovery_e2e.sh SV-HOST SV-RECEIVER PLUGIN     (exit 77: skipped)
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
[ -x "$host" ] && [ -x "$receiver" ] && [ -f "$plugin" ] || { echo "usage: $0 SV-HOST SV-RECEIVER PLUGIN" >&2; exit 2; }
source "$(dirname "$0")/../e2e/lib.sh"

if [ -z "${SV_DISCOVERY_IN_NETNS:-}" ]; then
  if unshare --net --mount --propagation private true 2>/dev/null; then
    SV_DISCOVERY_IN_NETNS=1 exec unshare --net --mount --propagation private bash "$0" "$@"
  fi
  # A user namespace would not do: avahi-daemon hands its runtime folder to its own user, which
  # does not exist there.
  sv_skip "cannot create a private network and mount namespace here (unshare --net --mount needs root)"
fi

e2e_init
unset DBUS_SYSTEM_BUS_ADDRESS  # the namespace's own bus, at the usual place
work="$E2E_WORK"
log="$E2E_LOG"
port=47130
watchSeconds=70  # from before the host starts: a minute of streaming and its start
avahiPid="" dbusPid="" decoyPid="" watchPid=""

stop_pid() {  # stop_pid PID: ends one process we started and waits until it is gone
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$1" 2>/dev/null
}
discovery_cleanup() {
  stop_pid "$decoyPid"
  stop_pid "$watchPid"
  stop_pid "$avahiPid"
  stop_pid "$dbusPid"
}
trap 'discovery_cleanup; e2e_cleanup' EXIT

# wait_for SECONDS COMMAND...: polls every 0.1 s
wait_for() {
  local tenths=$(($1 * 10))
  shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}
seconds_since() { python3 -c "import time; print(f'{time.time() - $1:.1f}')"; }
at_most() { python3 -c "import sys; sys.exit(0 if $1 <= $2 else 1)"; }

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
# The TXT "transmit" value avahi-browse resolves for our service (empty when not found).
browsed_transmit() { browse | head -n1 | grep -o '"transmit=[01]"' | grep -o '[01]'; }

# A known identity, and another service already holding the name the plug-in will ask for.
id="e2e-install-0001"
name="Edit Bay"
advertised="$name — Unknown Host"
mkdir -p "$APPDATA/Sorvane"
printf '{"id":"%s","name":"%s","discoverable":"true","enableAsyncHwEncoders":"false"}\n' "$id" "$name" \
  >"$APPDATA/Sorvane/install.json"
avahi-publish -s "$advertised" _sorvane._tcp 9 >"$work/decoy.txt" 2>&1 &
decoyPid=$!
wait_for 5 grep -qs "Established" "$work/decoy.txt" || { e2e_fail "a decoy service is published"; exit 1; }

# The watch follows the entries from before the plug-in starts until a minute into its streaming.
# (No stdbuf: it preloads a library ahead of the sanitizer runtime; the watch flushes each line.)
"$receiver" --list --watch "$watchSeconds" >"$work/watch.txt" 2>&1 &
watchPid=$!
wait_for 5 grep -q "appeared" "$work/watch.txt"

e2e_start_host discovery "$host" "$plugin" --seconds "$(e2e_scaled 150)"
e2e_wait_listener
if wait_for 15 grep -qs "advertising :$port" "$log"; then
  e2e_pass "the plug-in advertises"
else
  e2e_fail "the plug-in advertises"; grep mdns "$log"; exit 1
fi

entry="$(browse | head -n1)"
instance="$(echo "$entry" | cut -d';' -f4)"
[ "$instance" = 'Edit\032Bay\032\226\128\148\032Unknown\032Host\032\0352' ] &&
  grep -q "Avahi name collision" "$log" &&
  e2e_pass "a taken name is replaced by Avahi's alternative (${instance})" ||
  e2e_fail "a taken name is replaced by Avahi's alternative (${instance})"
stop_pid "$decoyPid"
decoyPid=""
echo "browse: $entry"
[ -n "$entry" ] && e2e_pass "avahi-browse finds _sorvane._tcp on :$port" || e2e_fail "avahi-browse finds _sorvane._tcp on :$port"
txt="${entry##*;}"
python3 - "$txt" "$id" <<'PY' && e2e_pass "TXT ver=4, id, name, transmit in order" || e2e_fail "TXT ver=4, id, name, transmit in order: $txt"
import re, sys
txt, install_id = sys.argv[1:3]
items = re.findall(r'"((?:[^"\\]|\\.)*)"', txt)
keys = [i.split("=", 1)[0] for i in items]
values = dict(i.split("=", 1) for i in items)
# avahi-browse lists a TXT record's strings last to first
sys.exit(0 if keys == ["transmit", "name", "id", "ver"] and values["ver"] == "4"
         and values["id"] == install_id + "-x" and values["name"] else 1)
PY

# The host's output is active while it pushes: the advertised transmit value says so.
if wait_for 10 bash -c "[ \"\$(avahi-browse -rpt _sorvane._tcp 2>/dev/null | grep '^=' | grep ';$port;' | grep -o '\"transmit=[01]\"')\" = '\"transmit=1\"' ]"; then
  e2e_pass "TXT transmit=1 while the host's output is active"
else
  e2e_fail "TXT transmit=1 while the host's output is active (avahi-browse: transmit=$(browsed_transmit))"
  grep -E "transmit|mdns" "$log" | tail -n 10
fi

# While the watch goes on, a phone's stand-in finds the service, pairs and streams.
"$receiver" --discover --code-from-log "$log" --seconds "$(e2e_scaled 4)" \
  --out "$work/received" \
  --summary-json "$work/summary.json" >"$work/receiver.txt" 2>&1
code=$?
if [ $code -eq 0 ] && python3 -c "import json,sys; s=json.load(open('$work/summary.json')); sys.exit(0 if s['pairing']=='accepted with code' and s['video']['framesDecoded'] > 30 else 1)"; then
  e2e_pass "sv-receiver --discover pairs and decodes video"
else
  e2e_fail "sv-receiver --discover pairs and decodes video (exit $code)"; cat "$work/receiver.txt"
fi
"$receiver" --discover="$advertised" --seconds 1 >"$work/named.txt" 2>&1 &&
  grep -q "pairing accepted with token" "$work/named.txt" &&
  e2e_pass "--discover=NAME finds the service by its TXT name and reconnects with the token" ||
  { e2e_fail "--discover=NAME finds the service by its TXT name and reconnects with the token"; cat "$work/named.txt"; }
"$receiver" --discover=no-such-plugin --seconds 1 >"$work/nomatch.txt" 2>&1
[ $? -ne 0 ] && e2e_pass "--discover=NAME with no such service fails" || e2e_fail "--discover=NAME with no such service fails"

# A minute of streaming with nothing wrong: our entry appeared once, never disappeared, and the
# plug-in registered it once.
wait "$watchPid"
watchCode=$?
watchPid=""
echo "sv-receiver --list --watch $watchSeconds:"
sed 's/^/  /' "$work/watch.txt"
ours="\"$advertised #2\""
appeared=$(grep " appeared " "$work/watch.txt" | grep -c "$ours")
changed=$(grep " changed " "$work/watch.txt" | grep -c "$ours")
disappeared=$(grep " disappeared " "$work/watch.txt" | grep -c "$ours")
[ "$watchCode" -eq 0 ] && [ "$appeared" -eq 1 ] && [ "$disappeared" -eq 0 ] &&
  e2e_pass "over a minute of streaming the entry appears once and never disappears" ||
  e2e_fail "over a minute of streaming the entry appears once and never disappears ($appeared appeared, $disappeared disappeared)"
# Whether the watch resolves the entry before or after its TXT record says 1 depends on timing;
# either way the last value it saw is 1, and only that one change of TXT can have happened.
grep -E " (appeared|changed) " "$work/watch.txt" | grep "$ours" | tail -n1 | grep -q "transmit=1" &&
  [ "$changed" -le 1 ] && e2e_pass "the watch sees transmit=1 while the output is active" ||
  e2e_fail "the watch sees transmit=1 while the output is active ($changed changes)"
registrations=$(grep -ac "advertising :$port\|re-publishing" "$log")
echo "registrations while watched: $registrations"
[ "$registrations" -eq 1 ] && e2e_pass "no re-registration while streaming" ||
  { e2e_fail "no re-registration while streaming ($registrations registrations)"; grep mdns "$log" | tail -n 20; }

# A new address on an interface: the plug-in hears of it and looks for its entry again.
ip addr add 10.77.0.3/24 dev svd0
wait_for 10 grep -qa "self-heal: network changed" "$log" &&
  e2e_pass "a new address makes the plug-in look for its entry again" ||
  e2e_fail "a new address makes the plug-in look for its entry again"

# Self-heal: the restarted daemon has forgotten every entry; ours must come back by itself. A
# browser that follows the daemon across the restart notes when it sees the entry again.
stdbuf -oL avahi-browse -rpf _sorvane._tcp >"$work/follow.txt" 2>/dev/null &
watchPid=$!
wait_for 5 grep -q ";$port;" "$work/follow.txt"
seen() { [ "$(grep -c "^=.*;$port;" "$work/follow.txt")" -gt "$1" ]; }
stop_pid "$avahiPid"
avahiPid=""
wait_for 5 bash -c '! test -e /run/avahi-daemon/pid'
before="$(grep -c "^=.*;$port;" "$work/follow.txt")"
start_avahi || { e2e_fail "avahi-daemon restarts"; exit 1; }
restarted=$(date +%s.%N)
if wait_for 10 seen "$before"; then
  back=$(seconds_since "$restarted")
  echo "entry back ${back} s after the daemon restarted"
  at_most "$back" 10 && e2e_pass "entry back within 10 s of the daemon's restart (${back} s)" ||
    e2e_fail "entry back within 10 s of the daemon's restart (${back} s)"
else
  e2e_fail "entry back after the daemon's restart"; grep mdns "$log" | tail -n 20
fi
stop_pid "$watchPid"
watchPid=""
browse >/dev/null && e2e_pass "avahi-browse -rpt finds it again" || e2e_fail "avahi-browse -rpt finds it again"

if "$receiver" --list >"$work/list.txt" 2>&1 && grep -q ":$port" "$work/list.txt"; then
  e2e_pass "sv-receiver --list shows the service"
else
  e2e_fail "sv-receiver --list shows the service"; cat "$work/list.txt"
fi

echo "the plug-in's discovery log:"
grep -aE ":mdns:|Bonjour|advertis" "$log" | sed 's/^/  /'
e2e_finish
