#!/usr/bin/env bash
# Other machines on the LAN: while a paired receiver streams, twenty strangers connect to the
# control port — five each of connect-and-close, half a hello, a hello left unanswered and a hello
# with a wrong code. The receiver must keep its connection and its pictures (no pause over 1 s),
# and the plug-in must never replace its client. Then the receiver comes back with its token right
# after its connection closed, and must be served within 0.5 s; last, a connection that says nothing
# must be closed within 15 s. HOST may be the Windows sv-host.exe (under Wine).
# Usage: strangers_e2e.sh HOST RECEIVER PLUGIN
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
source "$(dirname "$0")/lib.sh"
[ -x "$receiver" ] || sv_skip "the Linux receiver is not built ($receiver)"
e2e_init

port=47130  # sv-host counts as an unknown host
receiveSeconds=$(e2e_scaled 25)
hostArgs=(--size 640x360 --seconds $((receiveSeconds + 30)))
if [[ "$host" == *.exe ]]; then
  hostArgs=(--test-encoder sync --size 320x180 --fps 15 --seconds $((receiveSeconds + 50)))
fi
e2e_start_host strangers "$host" "$plugin" "${hostArgs[@]}"
e2e_wait_listener
e2e_receive strangers "$receiver" "$receiveSeconds" &
receiverPid=$!
E2E_PIDS+=("$receiverPid")
for _ in $(seq 300); do
  grep -qs "pairing accepted" "$E2E_WORK/strangers.receiver.txt" && break
  sleep 0.1
done
sleep 2  # the first pictures before the strangers come

python3 - "$port" <<'PY'
import socket, sys, time
port = int(sys.argv[1])
HELLO, CODE = 0x30, 0x32

def hello(device):
    body = bytes([HELLO])
    for field in (device.encode(), b"Stranger", b""):
        body += bytes([len(field)]) + field
    return body

def connect():
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    s.settimeout(0.3)
    return s

def drain(s, seconds):
    end = time.time() + seconds
    while time.time() < end:
        try:
            if not s.recv(4096):
                return
        except socket.timeout:
            pass
        except OSError:
            return

kinds = {
    "connect-and-close": lambda s: None,
    "half a hello": lambda s: (s.sendall(bytes([HELLO, 9, ord("h")])), drain(s, 0.5)),
    "hello left unanswered": lambda s: (s.sendall(hello("unanswered")), drain(s, 1.0)),
    "wrong code": lambda s: (s.sendall(hello("wrong")), drain(s, 0.3),
                             s.sendall(bytes([CODE]) + b"------"), drain(s, 0.5)),
}
count = 0
for round in range(5):
    for name, act in kinds.items():
        with connect() as s:
            act(s)
        count += 1
        print(f"stranger {count}: {name}")
        time.sleep(0.2)
PY
[ $? -eq 0 ] && e2e_pass "20 strangers came and went" || e2e_fail "20 strangers came and went"
wait "$receiverPid"
replaced=$(grep -ac "Replaced old client" "$E2E_LOG")
e2e_receive reconnect "$receiver" 2
# Seconds until the plug-in closes a connection that never sends a byte (heartbeats are read).
silentSeconds=$(python3 - "$port" <<'PY'
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
s.settimeout(30)
start = time.time()
try:
    while s.recv(4096):
        pass
except OSError:
    pass
print(f"{time.time() - start:.1f}")
PY
)

e2e_check strangers "the receiver stays paired and connected" \
  "s['pairing'] == 'accepted with code' and not s['connectionLost']"
# The host never pauses here, so the longest gap between two pictures is the longest pause.
e2e_check strangers "the pictures never pause for over 1 s" \
  "s['recovery']['longestGapMs'] <= 1000 and v['framesDecoded'] > 50"
python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['recovery']; print(f\"longest gap between pictures {r['longestGapMs']:.0f} ms, decoded {100 * r['decodedShare']:.1f} %\")" \
  "$E2E_WORK/strangers.json"
e2e_check reconnect "the phone's token reconnect is served within 0.5 s" \
  "s['pairing'] == 'accepted with token' and s['pairingMs'] <= 500"
python3 -c "import json,sys; print(f\"token reconnect paired in {json.load(open(sys.argv[1]))['pairingMs']:.0f} ms\")" \
  "$E2E_WORK/reconnect.json"
e2e_expect silent "a connection that says nothing is closed within 15 s (${silentSeconds:-?} s)" \
  python3 -c "import sys; sys.exit(0 if 0 < float(sys.argv[1]) <= 15 else 1)" "${silentSeconds:-0}"
e2e_expect strangers "no stranger replaced the paired client" [ "$replaced" -eq 0 ]
e2e_expect strangers "the plug-in heard the strangers" \
  grep -aq "pair: client disconnected before Hello" "$E2E_LOG"
e2e_finish
