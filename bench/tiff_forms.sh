#!/usr/bin/env bash
# Whole-program time of converting 4096 x 4096 TIFFs of each common form to
# BMP, against what libtiff takes for the same file: reading it to an
# uncompressed TIFF (`tiffcp -c none`) and decoding it alone (libtiff_decode,
# nothing written), and against a plain 64 KiB-block copy of the file. Then
# JPEG against tiffcp and Pillow, the Deflate forms against tiffcp
# (deflate_forms.sh), a 1 x 10,000,000 picture in one-row
# strips against the same in one strip, and a 2480 x 3508 page of text in group 4 fax codes against libtiff
# decoding it and writing it in full colour (`tiff2rgba -c none`), as the
# BMP must be. Page cache warm, each run writing a new file; medians of 5
# runs, in ms. Needs libtiff-tools (tiffcp, tiff2rgba), and netpbm for the
# page.
# Then LZW on photographic and text-like pictures (bench/lzw_forms.sh).
# Usage: bench/tiff_forms.sh [host] [libtiff_decode]
set -euo pipefail
host=${1:-build/bench/tools/kestovatiff}
decode=${2:-build/bench/bench/libtiff_decode}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/median_ms.sh"

# A picture that compresses as photographs do, turned into an uncompressed
# TIFF by the host itself.
. "$(dirname "$0")/photo_bmp.sh"
photo_bmp 4096 "$work/picture.bmp"
"$host" "$work/picture.bmp" "$work/strips.tif"
tiffcp -c lzw:2 "$work/strips.tif" "$work/lzw.tif"
tiffcp -c zip:2 "$work/strips.tif" "$work/deflate.tif"
tiffcp -c packbits "$work/strips.tif" "$work/packbits.tif"
tiffcp -c none -p separate "$work/strips.tif" "$work/planar.tif"
tiffcp -c none -t -w 256 -l 256 "$work/strips.tif" "$work/tiled.tif"

ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
printf '%-22s %8s %8s %8s %8s %9s %9s\n' "4096 x 4096 (ms)" kestova tiffcp decode copy "/tiffcp" "/copy"
for form in strips lzw deflate packbits planar tiled; do
  file=$work/$form.tif
  ours=$(median_ms "rm -f $work/out.bmp; $host $file $work/out.bmp")
  cmp -s <(tail -c +55 "$work/out.bmp") <(tail -c +55 "$work/picture.bmp") \
    || { echo "$form: the BMP differs from the picture" >&2; exit 1; }
  tiffcp=$(median_ms "rm -f $work/c.tif; tiffcp -c none $file $work/c.tif")
  decoded=$([[ -x $decode ]] && "$decode" "$file" 5 || echo -)
  # A copy is the yardstick only of a file as large as its pixels.
  copy=-
  copied=-
  case $form in strips | planar | tiled)
    copy=$(median_ms "rm -f $work/copy; dd if=$file of=$work/copy bs=64K status=none")
    copied=$(ratio "$ours" "$copy") ;;
  esac
  printf '%-22s %8s %8s %8s %8s %9s %9s\n' "$form ($(($(stat -c %s "$file") / 1048576)) MiB)" "$ours" "$tiffcp" \
    "$decoded" "$copy" "$(ratio "$ours" "$tiffcp")" "$copied"
done

# JPEG: the picture at quality 90, YCbCr with chroma halved both ways, in
# strips of 16 rows, as tiffcp writes it; against tiffcp reading it to an
# uncompressed TIFF (libtiff decodes with the same libjpeg) and Pillow
# reading it to a BMP. The BMP must be what the host makes of tiffcp's
# uncompressed TIFF, libtiff's own decoding of the file.
if tiffcp -c jpeg:90 -r 16 "$work/strips.tif" "$work/jpeg.tif" 2>/dev/null; then
  pil=python3
  python3 -c "import PIL" 2>/dev/null || pil=/usr/bin/python3
  ours=$(median_ms "rm -f $work/out.bmp; $host $work/jpeg.tif $work/out.bmp")
  tiffcp=$(median_ms "rm -f $work/c.tif; tiffcp -c none $work/jpeg.tif $work/c.tif")
  "$host" "$work/c.tif" "$work/libtiff.bmp"
  cmp -s "$work/out.bmp" "$work/libtiff.bmp" || { echo "jpeg: the BMP differs from libtiff's decoding" >&2; exit 1; }
  pillow=-
  if "$pil" -c "import PIL" 2>/dev/null; then
    save="from PIL import Image; Image.open('$work/jpeg.tif').save('$work/p.bmp')"
    pillow=$(median_ms "rm -f $work/p.bmp; $pil -c \"$save\"")
  fi
  printf '%-22s %8s %8s %8s %9s\n' "4096 x 4096 (ms)" kestova tiffcp Pillow "/tiffcp"
  printf '%-22s %8s %8s %8s %9s %s\n' "JPEG q90 ($(($(stat -c %s "$work/jpeg.tif") / 1024)) KiB)" "$ours" "$tiffcp" \
    "$pillow" "$(ratio "$ours" "$tiffcp")" "$([[ $pillow != - ]] && echo "($(ratio "$ours" "$pillow") of Pillow)")"
fi

# One row a strip: the library reads strips that follow each other as one.
python3 - "$work" <<'PY'
import struct, sys
# 1 x 10,000,000 RGB pixels, uncompressed, in one strip and in one-row strips.
work, height = sys.argv[1], 10_000_000
def write(path, rows_per_strip):
    strips = (height + rows_per_strip - 1) // rows_per_strip
    pixels = 3 * height
    entries = 9
    ifd = 8 + pixels
    arrays = ifd + 2 + 12 * entries + 4
    offsets_at, counts_at = arrays, arrays + 4 * strips
    with open(path, "wb") as f:
        f.write(b"II*\0" + struct.pack("<I", ifd))
        f.write(bytes((i * 7) & 0xFF for i in range(3 * 4096)) * (pixels // (3 * 4096)))
        f.write(bytes(pixels % (3 * 4096)))
        tags = [(256, 4, 1, 1), (257, 4, 1, height), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 2),
                (273, 4, strips, offsets_at if strips > 1 else 8), (277, 3, 1, 3), (278, 4, 1, rows_per_strip),
                (279, 4, strips, counts_at if strips > 1 else pixels)]
        f.write(struct.pack("<H", entries))
        for tag, kind, count, value in tags:
            f.write(struct.pack("<HHII", tag, kind, count, value))
        f.write(struct.pack("<I", 0))
        if strips > 1:
            f.write(struct.pack(f"<{strips}I", *range(8, 8 + pixels, 3)))
            f.write(struct.pack("<I", 3) * strips)
write(f"{work}/one-strip.tif", height)
write(f"{work}/row-strips.tif", 1)
PY
one=$(median_ms "rm -f $work/out.bmp; $host $work/one-strip.tif $work/out.bmp")
rows=$(median_ms "rm -f $work/out.bmp; $host $work/row-strips.tif $work/out.bmp")
read_all=$(median_ms "cat $work/row-strips.tif > /dev/null")
printf '1 x 10,000,000: one strip %s ms, one-row strips %s ms (%s times); reading that file alone %s ms\n' \
  "$one" "$rows" "$(ratio "$rows" "$one")" "$read_all"

# Deflate, photographic and text-like, without and with the predictor,
# against tiffcp, the commands taking turns.
"$(dirname "$0")/deflate_forms.sh" "$host"

# A page as a 300 dpi scanner gives an A4 letter: lines of text, 72 pixels
# tall with 36 between them, across the page, in group 4 in strips.
if command -v pbmtext >/dev/null; then
  pbmtext -builtin fixed "The quick brown fox jumps over the lazy dog; 0123456789 PACK MY BOX WITH FIVE DOZEN JUGS." |
    pnmenlarge 3 | pnmpad -white -bottom 36 -right 120 | pnmtile 2480 3508 | pnmtotiff >"$work/page.tif" 2>/dev/null
  tiffcp -c g4 "$work/page.tif" "$work/g4.tif"
  ours=$(median_ms "rm -f $work/out.bmp; $host $work/g4.tif $work/out.bmp")
  theirs=$(median_ms "rm -f $work/c.tif; tiff2rgba -c none $work/g4.tif $work/c.tif")
  printf '2480 x 3508 group 4 page (%s KiB): %s ms, tiff2rgba -c none %s ms (%s times)\n' \
    "$(($(stat -c %s "$work/g4.tif") / 1024))" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
fi

# LZW on photographic and text-like pictures, with and without the
# predictor, against tiffcp.
"$(dirname "$0")/lzw_forms.sh" "$host"
