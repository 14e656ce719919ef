#!/usr/bin/env bash
# Runs `sv-host --setup` against the real module, draws its terminal QR code as an image, reads it
# with zbarimg and compares with the printed URL and the stored install id.
set -euo pipefail
host="$1" plugin="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A desktop user's folders: the XDG rules decide, whatever APPDATA or LOCALAPPDATA the caller has.
unset APPDATA LOCALAPPDATA
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
  XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
mkdir -p "$HOME"

"$host" --plugin "$plugin" --setup --seconds 2 --size 320x240 --no-audio >"$work/out.txt" 2>&1 || {
  cat "$work/out.txt"; echo "FAIL: sv-host --setup exited non-zero"; exit 1; }

python3 - "$work/out.txt" "$work/qr.pgm" <<'PY'
import sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
start = next(i for i, l in enumerate(lines) if l.startswith("pairing URL:"))
block = []
i = start - 1
while i >= 0 and (set(lines[i]) <= set(" \u2580\u2584\u2588")) and lines[i]:
    block.insert(0, lines[i]); i -= 1
scale, width = 4, max(len(l) for l in block)
rows = []
for line in block:
    line = line.ljust(width)
    rows += [[c in "\u2588\u2580" for c in line]] * scale + [[c in "\u2588\u2584" for c in line]] * scale
with open(sys.argv[2], "wb") as f:
    f.write(b"P5 %d %d 255\n" % (width * scale, len(rows)))
    for r in rows:
        f.write(bytes(0 if r[x // scale] else 255 for x in range(width * scale)))
PY

decoded="$(zbarimg -q --raw "$work/qr.pgm" 2>/dev/null || true)"
printed="$(sed -n 's/^pairing URL: //p' "$work/out.txt")"
id="$(grep -o '"id":"[^"]*"' "$(find "$work" -name install.json | head -1)" | cut -d'"' -f4)"
fail=0
[ -n "$decoded" ] || { echo "FAIL: the terminal QR code does not decode"; fail=1; }
[ "$decoded" = "$printed" ] || { echo "FAIL: decoded '$decoded' != printed '$printed'"; fail=1; }
case "$decoded" in
  "sorvane://pair?v=3&id=$id&name="*) ;;
  *) echo "FAIL: '$decoded' does not carry the stored id '$id'"; fail=1 ;;
esac
rows="$(grep -c '^--- setup status' "$work/out.txt")"
[ "$rows" -ge 2 ] || { echo "FAIL: $rows status blocks, expected one a second"; fail=1; }
grep -q '^  Phase           n/a (v1)$' "$work/out.txt" || { echo "FAIL: no Phase row"; fail=1; }
grep -q "^  Ports           47130 control" "$work/out.txt" || { echo "FAIL: no Ports row"; fail=1; }
[ "$fail" -eq 0 ] && echo "setup terminal check: QR decodes to $decoded, $rows status blocks"
exit "$fail"
