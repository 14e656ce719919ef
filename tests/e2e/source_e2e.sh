#!/usr/bin/env bash
# End-to-end with real footage: sv-host pushes clips made with the ffmpeg tool through the real
# plug-in; the receiver must decode them at the pushed size and rate and read the stamp strip.
# Broken files must end sv-host with one clear error and exit code 1.
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
source "$(dirname "$0")/lib.sh"
command -v ffmpeg >/dev/null || sv_skip "the ffmpeg tool is not installed"
e2e_init
work="$E2E_WORK"

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
  # shellcheck disable=SC2086
  e2e_start_host "$name" "$host" "$plugin" --seconds "$((seconds + 3))" $hostOptions
  e2e_wait_listener
  e2e_receive "$name" "$receiver" "$seconds" "$@"
  e2e_wait_host
}

ratio="$E2E_DECODED_SHARE"
run mp4 4 "--source $work/clip.mp4 --size 1280x720" --reference "$work/clip.mp4"
e2e_check mp4 "scaled to --size" "v['decodedWidth'] == 1280 and v['decodedHeight'] == 720 and d['sourceWidth'] == 1280"
e2e_check mp4 "at the file's rate" "d['sourceFps'] > 24.9 and d['sourceFps'] < 25.1 and 'framesPushed=175 ' in open('$work/mp4.host.txt').read()"
e2e_check mp4 "stamps readable, at least 95% decoded" "v['stampsRead'] >= 0.95 * v['framesDecoded'] and $ratio >= 0.95"
e2e_check mp4 "the file's sound" "s['audio']['packets'] > 50"
e2e_check mp4 "pictures match the file (PSNR >= 30 dB)" "v['psnrSamples'] >= 5 and v['psnrMinDb'] >= 30"

run webm 3 "--source $work/odd.webm --fps 20"
e2e_check webm "odd size kept" "d['sourceWidth'] == 321 and d['sourceHeight'] == 241"
e2e_check webm "--fps wins" "d['sourceFps'] > 19.9 and d['sourceFps'] < 20.1 and v['stampsRead'] > 30"

for bad in truncated.mp4 text.mp4 missing.mp4; do
  "$host" --plugin "$plugin" --profile "$E2E_PROFILE" --source "$work/$bad" --seconds 1 \
    >"$work/bad.out" 2>"$work/bad.err"
  code=$?
  if [ $code -eq 1 ] && [ "$(wc -l <"$work/bad.err")" -eq 1 ] && grep -q "$bad" "$work/bad.err"; then
    e2e_pass "$bad: one clear error, exit 1 ($(cat "$work/bad.err"))"
  else
    e2e_fail "$bad: exit $code"
    cat "$work/bad.err"
  fi
done

e2e_finish
