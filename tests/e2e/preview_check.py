#!/usr/bin/env python3
"""Checks on screenshots of the receiver's preview window (PNG, read through the ffmpeg tool).

match SHOT SNAPSHOT...  the window shows one of these decoded frames: below the data strip and
                        the status line, its mean difference from the closest frame is small (a
                        twelfth of a black picture's: an offset or misscaled picture fails), and
                        it is not blank.
first GRABS SNAPSHOT... GRABS lists "MS FILE" lines (screenshots and when they were taken): prints
                        the MS of the first that shows a decoded frame (as match), else fails.
overlay SHOT on|off     whether the status line's text is drawn in the window's top-left corner
                        (fine 2-pixel glyph strokes: many more level changes along its rows than
                        the picture's coarse blocks give).
"""
import subprocess
import sys

SMALL_W, SMALL_H = 160, 90
FIRST_ROW = SMALL_H * 15 // 100  # below the stamp strip and the status line


def gray(path, width=None, height=None):
    scale = f"scale={width}:{height}," if width else ""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-vf", f"{scale}format=gray",
                          "-f", "rawvideo", "-"], check=True, capture_output=True).stdout
    return raw


def size(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=width,height", "-of", "csv=p=0", path],
                         check=True, capture_output=True, text=True).stdout
    w, h = out.strip().split(",")[:2]
    return int(w), int(h)


def region(pixels):
    return pixels[FIRST_ROW * SMALL_W:]


def mean_difference(a, b):
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


def match(shot, snapshots, cache=None):
    cache = {} if cache is None else cache
    seen = region(gray(shot, SMALL_W, SMALL_H))
    mean = sum(seen) / len(seen)
    spread = (sum((p - mean) ** 2 for p in seen) / len(seen)) ** 0.5
    best = None
    for snapshot in snapshots:
        if snapshot not in cache:
            cache[snapshot] = region(gray(snapshot, SMALL_W, SMALL_H))
        decoded = cache[snapshot]
        difference = mean_difference(seen, decoded)
        blank = sum(decoded) / len(decoded)  # a black window's difference
        if best is None or difference / max(blank, 1) < best[0] / max(best[1], 1):
            best = (difference, blank, snapshot)
    if best is None:
        print("no decoded frame to compare with")
        return False
    difference, blank, snapshot = best
    print(f"window vs decoded {snapshot.rsplit('/', 1)[-1]}: mean difference {difference:.1f} "
          f"(black would give {blank:.1f}), window spread {spread:.1f}")
    return spread > 10 and difference < blank / 12


def overlay_changes(shot):
    width, height = size(shot)
    pixels = gray(shot)
    changes = 0
    for y in range(6, min(20, height)):
        row = pixels[y * width:(y + 1) * width]
        changes += sum(1 for x in range(6, min(400, width) - 1) if abs(row[x] - row[x + 1]) > 60)
    return changes


def first(grabs, snapshots):
    cache = {}
    for line in open(grabs):
        taken_ms, shot = line.split(maxsplit=1)
        if match(shot.strip(), snapshots, cache):
            print(taken_ms)
            return True
    return False


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "first":
        return 0 if first(sys.argv[2], sys.argv[3:]) else 1
    if len(sys.argv) >= 4 and sys.argv[1] == "match":
        return 0 if match(sys.argv[2], sys.argv[3:]) else 1
    if len(sys.argv) == 4 and sys.argv[1] == "overlay":
        changes = overlay_changes(sys.argv[2])
        print(f"level changes in the status line's place: {changes}")
        return 0 if (changes > 300) == (sys.argv[3] == "on") else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
