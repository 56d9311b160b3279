#!/usr/bin/env bash
# Deflate TIFFs to BMP against libtiff reading the same file to an
# uncompressed TIFF (`tiffcp -c none`), whole processes: a 4096 x 4096 RGB
# picture, photographic and text-like (black strokes on white), each
# compressed by tiffcp without and with the predictor (`-c zip`,
# `-c zip:2`), in the strips tiffcp writes. The commands take turns, run by
# run, so that the shared machine's slow moments fall on all of them alike;
# medians of 7 runs, in ms, and each ratio to tiffcp. With a second host (a
# build of another commit), its ratios are printed beside, from the same
# runs. Needs libtiff-tools (tiffcp).
# Usage: bench/deflate_forms.sh [host] [other host]
set -euo pipefail
host=${1:-build/bench/tools/kestovatiff}
other=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/photo_bmp.sh"
photo_bmp 4096 "$work/photo.bmp"
# Text: lines 48 pixels apart of glyphs made of black strokes, 2 to 3
# pixels thick, on white, as a rendered page of small print looks.
python3 - 4096 "$work/text.bmp" <<'PY'
import random, struct, sys
side, path = int(sys.argv[1]), sys.argv[2]
random.seed(2)
glyphs = []
for _ in range(64):
    g = [[0] * 20 for _ in range(28)]
    for _ in range(random.randint(2, 4)):
        if random.random() < 0.5:
            x, y0 = random.randrange(2, 17), random.randrange(0, 10)
            for y in range(y0, min(28, y0 + random.randint(12, 28))):
                g[y][x] = g[y][x + 1] = g[y][x + 2] = 1
        else:
            y, x0 = random.randrange(0, 26), random.randrange(0, 8)
            for x in range(x0, min(20, x0 + random.randint(8, 18))):
                g[y][x] = g[y + 1][x] = 1
    glyphs.append(g)
lines = []
for n in range(8):
    rows = [bytearray(b"\xff" * (3 * side)) for _ in range(48)]
    x = 40
    while x + 20 < side - 40:
        if random.random() < 0.15:
            x += 12  # a space between words
            continue
        g = random.choice(glyphs)
        for y in range(28):
            for gx in range(20):
                if g[y][gx]:
                    rows[10 + y][3 * (x + gx):3 * (x + gx) + 3] = b"\0\0\0"
        x += 22
    lines.append(b"".join(rows))
with open(path, "wb") as f:
    pixels = 3 * side * side
    f.write(b"BM" + struct.pack("<IHHI", 54 + pixels, 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, side, side, 1, 24, 0, pixels, 0, 0, 0, 0))
    page = b"".join(lines[(k * 5) % 8] for k in range(side // 48 + 1))
    f.write(page[:pixels])
PY

names=()
for content in photo text; do
  "$host" "$work/$content.bmp" "$work/$content.tif"
  for form in zip zip:2; do
    name=$content-${form/:/}
    tiffcp -c "$form" "$work/$content.tif" "$work/$name.tif"
    rm -f "$work/out.bmp"
    "$host" "$work/$name.tif" "$work/out.bmp"
    cmp -s <(tail -c +55 "$work/out.bmp") <(tail -c +55 "$work/$content.bmp") \
      || { echo "$name: the BMP differs from the picture" >&2; exit 1; }
    names+=("$name")
  done
done

python3 - "$work" "$host" "$other" "${names[@]}" <<'PY'
import os, statistics, subprocess, sys, time
work, host, other, names = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
runs = 7
def command(name, who):
    if who == "tiffcp":
        return ["tiffcp", "-c", "none", f"{work}/{name}.tif", f"{work}/c.tif"], f"{work}/c.tif"
    return [who, f"{work}/{name}.tif", f"{work}/out.bmp"], f"{work}/out.bmp"
who = ["tiffcp", host] + ([other] if other else [])
times = {(n, w): [] for n in names for w in who}
for _ in range(runs):
    for n in names:
        for w in who:
            argv, out = command(n, w)
            subprocess.run(["rm", "-f", out], check=True)
            start = time.perf_counter()
            subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times[(n, w)].append((time.perf_counter() - start) * 1000)
med = {k: statistics.median(v) for k, v in times.items()}
head = f"{'4096 x 4096 Deflate (ms)':28} {'tiffcp':>7} {'kestova':>8} {'ratio':>6}"
if other:
    head += f" {'other':>7} {'ratio':>6}"
print(head)
for n in names:
    size = os.path.getsize(f"{work}/{n}.tif") // 1024
    line = f"{n + f' ({size} KiB)':28} {med[(n, 'tiffcp')]:7.0f} {med[(n, host)]:8.0f} {med[(n, host)] / med[(n, 'tiffcp')]:6.2f}"
    if other:
        line += f" {med[(n, other)]:7.0f} {med[(n, other)] / med[(n, 'tiffcp')]:6.2f}"
    print(line)
PY
