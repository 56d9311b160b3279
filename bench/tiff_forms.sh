#!/usr/bin/env bash
# Whole-program time of converting 4096 x 4096 TIFFs of each common form to
# BMP, against what libtiff takes for the same file: reading it to an
# uncompressed TIFF (`tiffcp -c none`) and decoding it alone (libtiff_decode,
# nothing written), and against a plain 64 KiB-block copy of the file. Then
# JPEG against tiffcp and Pillow; the Deflate forms against tiffcp
# (deflate_forms.sh); one-row strips (1 x 1,000,000 and 4096 x
# 4096, uncompressed and LZW) against one strip, small LZW and Deflate tiles
# against tiffcp, planes and tiles against plain strips, each pair timed by
# turns in one run with its target beside it; and a 2480 x 3508 page of text in group 4 fax codes against libtiff
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
  # The host and tiffcp by turns, so that both see the same load.
  read -r ours tiffcp < <(interleaved_ms 7 "rm -f $work/out.bmp; $host $work/jpeg.tif $work/out.bmp" \
    "rm -f $work/c.tif; tiffcp -c none $work/jpeg.tif $work/c.tif")
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
  echo "JPEG target: at most 1.0 times tiffcp"
fi

# The pieces the library gathers, each against its yardstick in one run,
# the commands by turns (interleaved_ms), seven rounds; each run writes a new file.
runs=7
# One row a strip, against the same picture in one strip: a picture one
# pixel wide (1 x 1,000,000 RGB, uncompressed and LZW) and 4096 x 4096.
python3 - "$work" <<'PY'
import struct, sys
work, height = sys.argv[1], 1_000_000
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
write(f"{work}/tall-one.tif", height)
write(f"{work}/tall-rows.tif", 1)
PY
tiffcp -c lzw "$work/tall-one.tif" "$work/tall-one-lzw.tif"
tiffcp -c lzw -r 1 "$work/tall-one.tif" "$work/tall-rows-lzw.tif"
tiffcp -c none -r 4096 "$work/strips.tif" "$work/side-one.tif"
tiffcp -c none -r 1 "$work/strips.tif" "$work/side-rows.tif"
tiffcp -c lzw -r 4096 "$work/strips.tif" "$work/side-one-lzw.tif"
tiffcp -c lzw -r 1 "$work/strips.tif" "$work/side-rows-lzw.tif"
to_bmp() { echo "rm -f $work/$2.bmp; $host $work/$1.tif $work/$2.bmp"; }
printf '%-34s %9s %9s %7s %7s\n' "one-row strips (ms)" one-strip rows ratio target
for form in tall side tall-lzw side-lzw; do
  pair=${form/-lzw/}
  suffix=${form#"$pair"}
  read -r one rows < <(interleaved_ms $runs "$(to_bmp "$pair-one$suffix" a)" "$(to_bmp "$pair-rows$suffix" b)")
  label=$([[ $pair == tall ]] && echo "1 x 1,000,000" || echo "4096 x 4096")
  printf '%-34s %9s %9s %7s %7s\n' "$label ${suffix:+LZW}" "$one" "$rows" "$(ratio "$rows" "$one")" 2
done

# Small compressed tiles, against tiffcp reading the same file to an
# uncompressed TIFF: 2048 x 2048 of the photograph-like picture.
photo_bmp 2048 "$work/small.bmp"
"$host" "$work/small.bmp" "$work/small.tif"
printf '%-34s %9s %9s %7s %7s\n' "2048 x 2048 tiles (ms)" kestova tiffcp ratio target
for coding in lzw zip; do
  for side in 16 64; do
    file=$work/t$side$coding.tif
    tiffcp -c $coding -t -w $side -l $side "$work/small.tif" "$file"
    read -r ours theirs < <(interleaved_ms $runs "rm -f $work/t.bmp; $host $file $work/t.bmp" \
      "rm -f $work/t.tif; tiffcp -c none $file $work/t.tif")
    cmp -s <(tail -c +55 "$work/t.bmp") <(tail -c +55 "$work/small.bmp") \
      || { echo "tiles of $side, $coding: the BMP differs from the picture" >&2; exit 1; }
    printf '%-34s %9s %9s %7s %7s\n' "$side x $side $coding" "$ours" "$theirs" "$(ratio "$ours" "$theirs")" 1.5
  done
done

# Uncompressed planes and 256 x 256 tiles (and both), against the same
# picture in plain strips, whole process against whole process.
tiffcp -c none -p separate -t -w 256 -l 256 "$work/strips.tif" "$work/planar-tiled.tif"
read -r strips planar tiled both < <(interleaved_ms $runs "$(to_bmp strips a)" "$(to_bmp planar b)" "$(to_bmp tiled c)" \
  "$(to_bmp planar-tiled d)")
printf '%-34s %9s %9s %7s %7s\n' "4096 x 4096 uncompressed (ms)" strips form ratio target
printf '%-34s %9s %9s %7s %7s\n' "planes" "$strips" "$planar" "$(ratio "$planar" "$strips")" 1.3
printf '%-34s %9s %9s %7s %7s\n' "256 x 256 tiles" "$strips" "$tiled" "$(ratio "$tiled" "$strips")" 1.3
printf '%-34s %9s %9s %7s %7s\n' "planes in 256 x 256 tiles" "$strips" "$both" "$(ratio "$both" "$strips")" -

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
