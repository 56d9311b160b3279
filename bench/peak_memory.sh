#!/usr/bin/env bash
# Peak resident memory of the command-line host converting a 64 x 64 and an
# 8192 x 8192 picture, both ways, and an LZW and a JPEG TIFF of each (192
# MiB of pixels) to BMP when libtiff's tiffcp is there to write them, and a
# YCbCr TIFF, chroma subsampled 2 x 2 in Deflate strips of 16 rows. The
# library's working storage is fixed (libjpeg's buffers, for JPEG, grow with
# the width only), so the two sizes must differ by less than 1 MiB.
# Usage: bench/peak_memory.sh [path to the kestovatiff host]
set -euo pipefail
host=${1:-build/bench/tools/kestovatiff}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 24-bit BMP in the library's own layout, bottom-up, unpadded rows.
make_bmp() {
  python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
width, height, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
pixels = 3 * width * height
with open(path, "wb") as f:
    f.write(b"BM" + struct.pack("<IHHI", 54 + pixels, 0, 0, 54))
    f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, pixels, 0, 0, 0, 0))
    row = bytes((i * 7) & 0xFF for i in range(3 * width))
    for _ in range(height):
        f.write(row)
PY
}

# A YCbCr TIFF, subsampled 2 x 2, in Deflate strips of 16 rows (the sides
# even): data units of four luma codes, Cb and Cr. (tiffcp copies no
# subsampled picture.)
make_ycbcr() {
  python3 - "$1" "$2" "$3" <<'PY'
import struct, sys, zlib
width, height, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
blocks = bytes((i * 7 + i // 6) & 0xFF for i in range(3 * width))  # a row of blocks: 6 bytes each of width / 2
strips = (height + 15) // 16
data = zlib.compress(blocks * 8)
bits_at = 8 + len(data) * strips  # then StripOffsets, StripByteCounts and the directory
offsets_at = bits_at + 6
counts_at = offsets_at + 4 * strips
directory = counts_at + 4 * strips
many = strips > 1  # the strip fields' values lie outside their entries
entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 3, bits_at), (259, 3, 1, 8), (262, 3, 1, 6),
           (273, 4, strips, offsets_at if many else 8), (277, 3, 1, 3), (278, 4, 1, 16),
           (279, 4, strips, counts_at if many else len(data)), (530, 3, 2, 2 | 2 << 16)]
with open(path, "wb") as f:
    f.write(b"II" + struct.pack("<HI", 42, directory))
    f.write(data * strips)
    f.write(struct.pack("<3H", 8, 8, 8))
    f.write(struct.pack("<%dI" % strips, *[8 + len(data) * i for i in range(strips)]))
    f.write(struct.pack("<%dI" % strips, *[len(data)] * strips))
    f.write(struct.pack("<H", len(entries)))
    for entry in entries:
        f.write(struct.pack("<HHII", *entry))
    f.write(struct.pack("<I", 0))
PY
}

peak_kib() {  # peak resident set of one run, in KiB
  /usr/bin/time -f %M "$host" "$@" 2>&1 >/dev/null | tail -n 1
}

printf '%-12s %-10s %14s\n' picture direction "peak RSS KiB"
declare -A peak
for side in 64 8192; do
  make_bmp "$side" "$side" "$work/in.bmp"
  peak[$side-to-tiff]=$(peak_kib "$work/in.bmp" "$work/out.tif")
  peak[$side-to-bmp]=$(peak_kib "$work/out.tif" "$work/back.bmp")
  cmp -s "$work/in.bmp" "$work/back.bmp" || { echo "round trip of ${side}x${side} differs" >&2; exit 1; }
  printf '%-12s %-10s %14s\n' "${side}x${side}" "BMP->TIFF" "${peak[$side-to-tiff]}"
  printf '%-12s %-10s %14s\n' "${side}x${side}" "TIFF->BMP" "${peak[$side-to-bmp]}"
  if command -v tiffcp >/dev/null; then
    tiffcp -c lzw:2 "$work/out.tif" "$work/lzw.tif"
    peak[$side-lzw-to-bmp]=$(peak_kib "$work/lzw.tif" "$work/back.bmp")
    cmp -s "$work/in.bmp" "$work/back.bmp" || { echo "LZW ${side}x${side} differs" >&2; exit 1; }
    printf '%-12s %-10s %14s\n' "${side}x${side}" "LZW->BMP" "${peak[$side-lzw-to-bmp]}"
    # JPEG: libjpeg's buffers grow with a strip's width only.
    tiffcp -c jpeg -r 16 "$work/out.tif" "$work/jpeg.tif"
    peak[$side-jpeg-to-bmp]=$(peak_kib "$work/jpeg.tif" "$work/back.bmp")
    printf '%-12s %-10s %14s\n' "${side}x${side}" "JPEG->BMP" "${peak[$side-jpeg-to-bmp]}"
  fi
  make_ycbcr "$side" "$side" "$work/ycbcr.tif"
  peak[$side-ycbcr-to-bmp]=$(peak_kib "$work/ycbcr.tif" "$work/back.bmp")
  printf '%-12s %-10s %14s\n' "${side}x${side}" "YCbCr->BMP" "${peak[$side-ycbcr-to-bmp]}"
done
status=0
directions=(to-tiff to-bmp ycbcr-to-bmp)
[[ -n ${peak[64-lzw-to-bmp]:-} ]] && directions+=(lzw-to-bmp jpeg-to-bmp)
for direction in "${directions[@]}"; do
  growth=$((peak[8192-$direction] - peak[64-$direction]))
  echo "growth from 64x64 to 8192x8192 ($direction): $growth KiB"
  if ((growth >= 1024)); then
    echo "memory grows with the picture" >&2
    status=1
  fi
done
exit $status
