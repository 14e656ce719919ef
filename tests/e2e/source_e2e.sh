#!/usr/bin/env bash
# End-to-end with real footage: sv-host pushes clips made with the ffmpeg tool through the real
# plug-in; the receiver must decode them at the pushed size and rate and read the stamp strip.
# Broken files must end sv-host with one clear error and exit code 1.
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
command -v ffmpeg >/dev/null || { echo "SKIP: the ffmpeg tool is not installed"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export LOCALAPPDATA="$work/local" APPDATA="$work/roaming" XDG_STATE_HOME="$work/state"
log="$LOCALAPPDATA/Sorvane/plugin-x.log"
failures=0 passed=0

ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=25 -f lavfi -i sine=frequency=500 -t 3 \
  -c:v libx264 -pix_fmt yuv420p -c:a aac "$work/clip.mp4" </dev/null || exit 1
ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=30 -t 2 -vf scale=321:241 \
  -c:v libvpx-vp9 -deadline realtime "$work/odd.webm" </dev/null || exit 1
head -c 30000 "$work/clip.mp4" >"$work/truncated.mp4"
echo "not a video" >"$work/text.mp4"

# run NAME SECONDS "HOST OPTIONS" [receiver options...]
run() {
  local name="$1" seconds="$2" hostOptions="$3"
  shift 3
  local before
  before=$(grep -c "Listening on" "$log" 2>/dev/null || true)
  # shellcheck disable=SC2086
  "$host" --plugin "$plugin" --seconds "$((seconds + 3))" $hostOptions >"$work/$name.host.txt" 2>&1 &
  local hostPid=$!
  local now
  for _ in $(seq 600); do
    now=$(grep -c "Listening on" "$log" 2>/dev/null)
    [ "${now:-0}" -gt "${before:-0}" ] && break
    sleep 0.05
  done
  "$receiver" --code-from-log "$log" --seconds "$seconds" --out "$work/$name" \
    --summary-json "$work/$name.json" "$@" >"$work/$name.receiver.txt" 2>&1
  wait "$hostPid"
}

check() {
  if python3 -c "import json,sys; s=json.load(open('$work/$1.json')); v=s['video']; d=s['streamDescription']; sys.exit(0 if ($3) else 1)"; then
    passed=$((passed + 1)); echo "ok   $1: $2"
  else
    failures=$((failures + 1)); echo "FAIL $1: $2"; cat "$work/$1.receiver.txt" "$work/$1.host.txt"
  fi
}

ratio="v['framesDecoded'] / max(1, v['lastFrameIndex'] - v['firstFrameIndex'] + 1)"

run mp4 4 "--source $work/clip.mp4 --size 1280x720" --reference "$work/clip.mp4"
check mp4 "scaled to --size" "v['decodedWidth'] == 1280 and v['decodedHeight'] == 720 and d['sourceWidth'] == 1280"
check mp4 "at the file's rate" "d['sourceFps'] > 24.9 and d['sourceFps'] < 25.1 and 'framesPushed=175 ' in open('$work/mp4.host.txt').read()"
check mp4 "stamps readable, at least 95% decoded" "v['stampsRead'] >= 0.95 * v['framesDecoded'] and $ratio >= 0.95"
check mp4 "the file's sound" "s['audio']['packets'] > 50"
check mp4 "pictures match the file (PSNR >= 30 dB)" "v['psnrSamples'] >= 5 and v['psnrMinDb'] >= 30"

run webm 3 "--source $work/odd.webm --fps 20"
check webm "odd size kept" "d['sourceWidth'] == 321 and d['sourceHeight'] == 241"
check webm "--fps wins" "d['sourceFps'] > 19.9 and d['sourceFps'] < 20.1 and v['stampsRead'] > 30"

for bad in truncated.mp4 text.mp4 missing.mp4; do
  "$host" --plugin "$plugin" --source "$work/$bad" --seconds 1 >"$work/bad.out" 2>"$work/bad.err"
  code=$?
  if [ $code -eq 1 ] && [ "$(wc -l <"$work/bad.err")" -eq 1 ] && grep -q "$bad" "$work/bad.err"; then
    passed=$((passed + 1)); echo "ok   $bad: one clear error, exit 1 ($(cat "$work/bad.err"))"
  else
    failures=$((failures + 1)); echo "FAIL $bad: exit $code"; cat "$work/bad.err"
  fi
done

echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
