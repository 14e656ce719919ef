#!/usr/bin/env bash
# scripts/demo --windows: the Windows build under Wine. sv-host.exe registers the test H.264
# encoder transform (--test-encoder), loads the Windows Sorvane.prm and streams its scene; the
# Linux sv-receiver pairs over loopback with the code from the plug-in's log, receives, rebuilds
# with parity, decodes and writes what it saw into out/demo-windows/received/.
# Usage: scripts/demo --windows [--async] [--size WxH] [--fps N] [--seconds S] [--drop-rate R]
#                               [--latency N] [--pause-at S --pause-for S]
#                               [--resize-to WxH --resize-at S] [--lose-device-at K]
#                               [-- receiver options...]
# --latency N keeps N frames in flight in the test encoder, --lose-device-at K makes it lose its
# device at its Kth frame; --pause-at/--pause-for stop the host's pushes (seconds of its run).
# (the test transform's pictures are raw, 1.5 bytes a pixel: 480x270 at the default 15 fps is
# 23 Mbit/s, about what Wine's per-datagram sendto keeps up with here; keep sizes at or below 480x272)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$(dirname "${BASH_SOURCE[0]}")/windows_host.sh"
cd "$SV_ROOT"

mode=sync size=480x270 fps=15 seconds=10 drop=() extra=() encoder=() host=()
while [ $# -gt 0 ]; do
  case "$1" in
    --windows) shift ;;
    --async) mode=async; shift ;;
    --size) size="$2"; shift 2 ;;
    --fps) fps="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --drop-rate) drop=(--drop-rate "$2"); shift 2 ;;
    --latency) encoder+=(--encoder-latency "$2"); shift 2 ;;
    --lose-device-at) encoder+=(--lose-device-at "$2"); shift 2 ;;
    --pause-at|--pause-for|--resize-at|--resize-to) host+=("$1" "$2"); shift 2 ;;
    --) shift; extra=("$@"); break ;;
    -h|--help) sed -n '2,13p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "demo --windows: unknown argument $1 (see --help)" >&2; exit 1 ;;
  esac
done

sv_install_packages || exit 1
sv_prepare_wine || exit 1
sv_log "building the Windows plug-in and host simulator, and the Linux receiver"
sv_build windows-cross --target Sorvane sv-host >/dev/null || exit 1
sv_build linux --target sv-receiver >/dev/null || exit 1

out="$SV_ROOT/out/demo-windows"
rm -rf "$out" && mkdir -p "$out/local" "$out/roaming" "$out/state"
# The receiver's own profile (Linux side).
export APPDATA="$out/roaming" XDG_STATE_HOME="$out/state" LOCALAPPDATA="$out/local"
log="$out/local/Sorvane/plugin-x.log"
hostSeconds="$(awk "BEGIN{print $seconds + 4}")"

sv_log "sv-host.exe under Wine: test encoder ($mode), ${size} at ${fps} fps for ${seconds} s (plug-in log: $log)"
sv_start_windows_host "$SV_ROOT/build/windows-cross/tools/sv-host/sv-host.exe" \
  "$SV_ROOT/build/windows-cross/plugins/Sorvane.prm" "$out" "$out/sv-host.txt" \
  "$(awk "BEGIN{print int($seconds + 90)}")" \
  --test-encoder "$mode" "${encoder[@]}" --size "$size" --fps "$fps" --seconds "$hostSeconds" \
  "${host[@]}"
host=$SV_WINDOWS_HOST_PID
if ! sv_wait_for_listener "$log" "$host"; then
  sv_log "the Windows plug-in never listened; sv-host said:"
  cat "$out/sv-host.txt"
  [ -f "$log" ] && tail -n 30 "$log"
  wait "$host"
  sv_log "demo FAILED (no listener)"
  exit 1
fi

sv_log "sv-receiver: pairing with the code from the plug-in's log, receiving for ${seconds} s"
build/linux/tools/sv-receiver/app/sv-receiver --code-from-log "$log" --seconds "$seconds" \
  --out "$out/received" "${drop[@]}" "${extra[@]}"
receiver=$?
wait "$host"
hostCode=$?

sv_log "summary"
grep -a "sv-host summary\|test encoder registered" "$out/sv-host.txt"
grep -a -E "Configure OK|-> using|trying .* MFT" "$log" | head -n 6
python3 - "$out/received/summary.json" "$out/sv-host.txt" "$log" "$fps" <<'PY' || true
import json, re, sys
s = json.load(open(sys.argv[1]))
host = open(sys.argv[2], errors="replace").read()
log = open(sys.argv[3], errors="replace").read() if sys.argv[3] else ""
fps = float(sys.argv[4])
v = s.get('video', {})
first, last = v.get('firstFrameIndex', 0), v.get('lastFrameIndex', 0)
runs = [tuple(r) for r in v.get('decodedIndexRuns', [])]
window = max(1, last - first + 1)
distinct = sum(b - a + 1 for a, b in runs)
print(f"encoder: {s.get('streamDescription', {}).get('encoder', '?')}")
print(f"frames decoded {distinct} of {window} pushed while paired ({100.0 * distinct / window:.1f} %; "
      f"{v.get('repeats', 0)} shown twice), decode errors {v.get('decodeErrors', 0)}, "
      f"PSNR min {v.get('psnrMinDb', 0)} dB, "
      f"rebuilt by parity {s.get('videoAssembly', {}).get('framesRebuiltByParity', 0)}")

def decoded_between(lo, hi):
    return sum(max(0, min(b, hi) - max(a, lo) + 1) for a, b in runs)

pause = re.search(r"firstAfterPause=(\d+) framesAfterPause=(\d+)", host)
if pause:
    resumed = int(pause.group(1))
    pushed = max(0, last - resumed + 1)
    print(f"after the pause: {decoded_between(resumed, last)} of the {pushed} frames pushed "
          f"from frame {resumed} on were decoded")
gaps = [(b + 1, c - 1) for (a, b), (c, d) in zip(runs, runs[1:])]
if gaps:
    print("frames never decoded: " + ", ".join(
        f"{a}-{b} ({(b - a + 1) / fps * 1000:.0f} ms)" for a, b in gaps))
else:
    print("frames never decoded: none between the first and the last")
failures = [l for l in log.splitlines() if re.search(r"ProcessInput failed|ProcessOutput failed|MEError|device was lost|event loop stopped", l)]
stalls = [l for l in log.splitlines() if "encoder stall" in l]
print(f"plug-in log: {len(failures)} encoder failure lines, {len(stalls)} stall lines")
PY
echo "receiver output: $out/received (PNG snapshots, $(ls "$out/received" 2>/dev/null | grep -E '^stream\.' || echo 'no stream'), audio.wav, summary.json)"
if [ $receiver -ne 0 ] || [ $hostCode -ne 0 ]; then
  sv_log "demo FAILED (sv-host exit $hostCode, sv-receiver exit $receiver)"
  exit 1
fi
sv_log "demo finished"
