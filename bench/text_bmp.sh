# Sourced by the benchmark scripts: text_bmp SIDE PATH writes a SIDE x SIDE
# 24-bit BMP of black strokes on white, as a scanned page of text: lines of
# glyphs 48 pixels tall with 24 between them, each glyph a few strokes 5
# pixels thick, drawn from a set of 64.
text_bmp() {
  python3 - "$1" "$2" <<'PY'
import random, struct, sys
side, path = int(sys.argv[1]), sys.argv[2]
random.seed(2)
cell_w, cell_h, gap, thick = 32, 48, 24, 5
def glyph():
    g = [bytearray(b"\x01" * cell_w) for _ in range(cell_h)]
    for _ in range(random.randint(2, 4)):
        x0, y0 = random.randrange(4, cell_w - 8), random.randrange(4, cell_h - 8)
        x1, y1 = random.randrange(4, cell_w - 8), random.randrange(4, cell_h - 8)
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for s in range(steps + 1):
            x, y = x0 + (x1 - x0) * s // steps, y0 + (y1 - y0) * s // steps
            for dy in range(thick):
                g[y + dy][x:x + thick] = b"\x00" * thick
    return [bytes(r) for r in g]
glyphs = [glyph() for _ in range(64)]
to_rgb = bytes.maketrans(b"\x00\x01", b"\x00\xff")
white = b"\xff" * (3 * side)
with open(path, "wb") as f:
    pixels = 3 * side * side
    f.write(b"BM" + struct.pack("<IHHI", 54 + pixels, 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, side, side, 1, 24, 0, pixels, 0, 0, 0, 0))
    line = []
    for y in range(side):
        at = y % (cell_h + gap)
        if at == 0:
            line = [random.randrange(-12, 64) for _ in range(side // cell_w)]  # negative: a space
        if at >= cell_h:
            f.write(white)
            continue
        row = b"".join(glyphs[c][at] if c >= 0 else b"\x01" * cell_w for c in line).ljust(side, b"\x01")
        f.write(bytes(b for b in row.translate(to_rgb) for _ in range(3)))
PY
}
