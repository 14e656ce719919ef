#!/usr/bin/env bash
# Inside a virtual X display: runs sv-receiver --preview against a streaming sv-host, screenshots
# its window, presses `i` and Esc through X, and checks what it saw (preview_check.py).
set -uo pipefail
receiver="$1" log="$2" work="$3" screenshot="$4"
here="$(cd "$(dirname "$0")" && pwd)"
check="$here/preview_check.py"
mkdir -p "$work"
failures=0
fail() { failures=$((failures + 1)); echo "FAIL $*"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# grab FILE: the window's pixels as a PNG. Its place is read before and after: it takes the
# picture's shape when the first picture arrives, and a grab across that change is refused.
place() { xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|WIDTH|HEIGHT)='; }
grab() {
  local X Y WIDTH HEIGHT before
  before="$(place)"
  eval "$before"
  ffmpeg -v error -y -f x11grab -draw_mouse 0 -video_size "${WIDTH}x${HEIGHT}" \
    -i "$DISPLAY+$X,$Y" -frames:v 1 "$1" </dev/null && [ "$(place)" = "$before" ]
}

frames() { find "$work/frames" -name 'snapshot-*.png' 2>/dev/null | sort; }

# Under AddressSanitizer, the display stack (SDL, libdbus: no frame pointers) leaves allocations
# whose stacks name no library a suppression could match, and tracing them slowly makes the window
# miss its 2 s. Leaks are checked here without the window: the run without a display below and
# the other end-to-end runs of the receiver.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
"$receiver" --preview --code-from-log "$log" --seconds 90 --out "$work/frames" \
  --snapshot-every 0.25 --summary-json "$work/summary.json" >"$work/receiver.txt" 2>&1 &
receiverPid=$!
window="$(timeout 10 xdotool search --sync --name "sv-receiver preview" | head -n 1)"
if [ -z "$window" ]; then
  kill "$receiverPid" 2>/dev/null
  echo "FAIL the preview window never appeared"; cat "$work/receiver.txt"
  exit 1
fi
appeared=$(now_ms)
echo "ok   the preview window appeared"

# Screenshots over the first 2 s; compared with the decoded frames afterwards, so comparing
# never delays a screenshot.
: >"$work/grabs.txt"
for n in $(seq 20); do
  taken=$(($(now_ms) - appeared))
  [ $taken -gt 2000 ] && break
  grab "$work/grab-$n.png" && echo "$taken $work/grab-$n.png" >>"$work/grabs.txt"
  sleep 0.15
done
sleep 0.3  # the last decoded frames reach their snapshot files
mapfile -t decoded < <(frames | tail -n 12)
if shown=$(python3 "$check" first "$work/grabs.txt" "${decoded[@]}" 2>&1 | tail -n 1) &&
  [[ "$shown" =~ ^[0-9]+$ ]]; then
  echo "ok   the window shows the decoded picture ${shown} ms after appearing"
else
  fail "no decoded picture in the window within 2 s ($(wc -l <"$work/grabs.txt") screenshots, ${#decoded[@]} decoded frames)"
fi

# The screenshot kept: the picture with its status line once the rates have settled (the
# comparisons above share the CPU with the receiver).
sleep 2
grab "$work/status.png" && cp "$work/status.png" "$screenshot"
if python3 "$check" overlay "$work/status.png" on >"$work/overlay.txt"; then
  echo "ok   the status line is drawn"
else
  fail "the status line is not drawn: $(cat "$work/overlay.txt")"
fi
xdotool windowfocus --sync "$window" && xdotool key i
sleep 0.5
grab "$work/plain.png"
mapfile -t decoded < <(frames)
if ! python3 "$check" overlay "$work/plain.png" off >"$work/plain.txt"; then
  fail "i does not hide the status line: $(cat "$work/plain.txt")"
elif ! python3 "$check" match "$work/plain.png" "${decoded[@]: -8}" >"$work/match.txt"; then
  fail "without the status line the window does not show the picture: $(cat "$work/match.txt")"
else
  echo "ok   i hides the status line; the picture stays ($(cat "$work/match.txt"))"
fi

xdotool windowfocus --sync "$window" && xdotool key Escape
pressed=$(now_ms)
wait "$receiverPid"
code=$?
ended=$(($(now_ms) - pressed))
if [ $code -ne 0 ]; then
  fail "Esc ends the run with exit code $code"
elif ! grep -q "preview closed" "$work/receiver.txt" || ! grep -q "^video: " "$work/receiver.txt"; then
  fail "Esc did not end the run with the summary"
elif [ $ended -gt 5000 ]; then
  fail "the run went on for $ended ms after Esc"
elif ! python3 -c "import json,sys; s=json.load(open('$work/summary.json')); sys.exit(0 if s['video']['framesDecoded'] > 30 else 1)"; then
  fail "the run decoded too little"
else
  echo "ok   Esc ends the run ($ended ms later) with exit code 0 and the usual summary"
fi
[ $failures -eq 0 ] || cat "$work/receiver.txt"
[ $failures -eq 0 ]
