#!/usr/bin/env bash
# scripts/demo --windows: the Windows build under Wine. sv-host.exe registers the test H.264
# encoder transform (--test-encoder), loads the Windows Sorvane.prm and streams its scene; the
# Linux sv-receiver pairs over loopback with the code from the plug-in's log, receives, rebuilds
# with parity, decodes and writes what it saw into out/demo-windows/received/.
# Usage: scripts/demo --windows [--async] [--size WxH] [--fps N] [--seconds S] [--drop-rate R]
#                               [-- receiver options...]
# (the test transform's pictures are raw, 1.5 bytes a pixel: 480x270 at the default 15 fps is
# 23 Mbit/s, about what Wine's per-datagram sendto keeps up with here; keep sizes at or below 480x272)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$(dirname "${BASH_SOURCE[0]}")/windows_host.sh"
cd "$SV_ROOT"

mode=sync size=480x270 fps=15 seconds=10 drop=() extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --windows) shift ;;
    --async) mode=async; shift ;;
    --size) size="$2"; shift 2 ;;
    --fps) fps="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --drop-rate) drop=(--drop-rate "$2"); shift 2 ;;
    --) shift; extra=("$@"); break ;;
    -h|--help) sed -n '2,8p' "${BASH_SOURCE[0]}"; exit 0 ;;
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
  --test-encoder "$mode" --size "$size" --fps "$fps" --seconds "$hostSeconds"
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
python3 - "$out/received/summary.json" <<'PY' || true
import json, sys
s = json.load(open(sys.argv[1]))
v = s.get('video', {})
window = max(1, v.get('lastFrameIndex', 0) - v.get('firstFrameIndex', 0) + 1)
print(f"encoder: {s.get('streamDescription', {}).get('encoder', '?')}")
print(f"frames decoded {v.get('framesDecoded', 0)} of {window} pushed while paired "
      f"({100.0 * v.get('framesDecoded', 0) / window:.1f} %), PSNR min {v.get('psnrMinDb', 0)} dB, "
      f"rebuilt by parity {s.get('videoAssembly', {}).get('framesRebuiltByParity', 0)}")
PY
echo "receiver output: $out/received (PNG snapshots, $(ls "$out/received" 2>/dev/null | grep -E '^stream\.' || echo 'no stream'), audio.wav, summary.json)"
if [ $receiver -ne 0 ] || [ $hostCode -ne 0 ]; then
  sv_log "demo FAILED (sv-host exit $hostCode, sv-receiver exit $receiver)"
  exit 1
fi
sv_log "demo finished"
