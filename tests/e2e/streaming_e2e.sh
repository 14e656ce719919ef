#!/usr/bin/env bash
# End-to-end: sv-host streams its scene through the real plug-in; sv-receiver pairs, receives,
# rebuilds with parity, decodes and summarises. Each case checks the receiver's summary.json.
set -uo pipefail
host="$1" receiver="$2" plugin="$3"
source "$(dirname "$0")/lib.sh"
e2e_init

# run NAME SECONDS [receiver options...]: one streaming run; its summary lands in NAME.json
run() {
  local name="$1" seconds
  seconds=$(e2e_scaled "$2")
  shift 2
  e2e_start_host "$name" "$host" "$plugin" --seconds "$((seconds + 3))"
  e2e_wait_listener
  e2e_receive "$name" "$receiver" "$seconds" "$@"
  local code=$?
  e2e_wait_host
  return $code
}

ratio="$E2E_DECODED_SHARE"
run plain 5 && echo "ran plain"
e2e_check plain "paired with the code from the log" "s['pairing'] == 'accepted with code'"
e2e_check plain "at least 97% of pushed frames decoded" "$ratio >= 0.97"
e2e_check plain "in order, no repeats" "v['outOfOrder'] == 0 and v['repeats'] == 0"
e2e_check plain "pictures match the scene (PSNR >= 32 dB)" "v['psnrSamples'] > 10 and v['psnrMinDb'] >= 32"
e2e_check plain "H.264 stream, audio received" "v['h264Frames'] > 0 and s['audio']['packets'] > 50"
e2e_check plain "stream described" "s['messages'].get('kStreamInfo', 0) >= 1 and s['streamDescription']['hostPlatform'] == 3"

run reconnect 3
e2e_check reconnect "reconnects with the stored token" "s['pairing'] == 'accepted with token'"
e2e_check reconnect "starts with an IDR and the descriptions again" "v['keyframes'] >= 1 and s['messages'].get('kStreamInfo', 0) >= 1 and s['messages'].get('kEncoderEngineList', 0) >= 1"

run lossy 5 --drop-rate 0.03 --seed 7
e2e_check lossy "parity rebuilds frames under 3% loss" "s['videoAssembly']['framesRebuiltByParity'] > 0"
e2e_check lossy "most frames still decode" "$ratio >= 0.85"

run hevc 4 --codec hevc
e2e_check hevc "HEVC stream" "v['hevcFrames'] > 0 and v['h264Frames'] == 0 and v['streamFile'] == 'stream.hevc'"

run h264again 3 --codec h264
# The plug-in starts every process with its default codec (HEVC); the first frames may go out
# before the phone's settings arrive, so what counts is that the stream turns and stays H.264.
e2e_check h264again "H.264 again once the phone asks for it" "v['streamFile'] == 'stream.h264' and v['h264Frames'] > v['hevcFrames']"

run capped 4 --max-res 480
e2e_check capped "short side capped to 480" "v['decodedWidth'] == 852 and v['decodedHeight'] == 480"

run intra 3 --gop all-intra
e2e_check intra "every frame a keyframe" "v['framesReceived'] > 10 and v['keyframes'] == v['framesReceived']"

e2e_finish
