# Sourced by the benchmark scripts: photo_bmp SIDE PATH writes a SIDE x SIDE
# 24-bit BMP that compresses as photographs do, about 7 to 1 with LZW and a
# predictor: smooth gradients, a little noise.
photo_bmp() {
  python3 - "$1" "$2" <<'PY'
import random, struct, sys
side, path = int(sys.argv[1]), sys.argv[2]
random.seed(1)
gradient = bytes((x // 16 * 3 + c * 40) & 0xFF for x in range(side) for c in range(3))
noise = [bytes(random.choice((0, 0, 0, 1, 2)) for _ in range(3 * side)) for _ in range(7)]
with open(path, "wb") as f:
    pixels = 3 * side * side
    f.write(b"BM" + struct.pack("<IHHI", 54 + pixels, 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, side, side, 1, 24, 0, pixels, 0, 0, 0, 0))
    for y in range(side):
        shift = bytes((i + y // 16) & 0xFF for i in range(256))
        row = gradient.translate(shift)
        f.write(bytes(a ^ b for a, b in zip(row, noise[y % 7])) if y % 3 == 0 else row)
PY
}
