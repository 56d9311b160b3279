#!/usr/bin/env bash
# LZW against libtiff: a 4096 x 4096 RGB picture, photographic and text-like
# (black strokes on white), coded by tiffcp in strips of 16 rows with and
# without the predictor, converted to BMP by the host and to an uncompressed
# TIFF by `tiffcp -c none`, the runs of each taking turns. Whole processes,
# page cache warm, each run writing a new file; medians of 7 runs (RUNS),
# in ms, and the host's time over tiffcp's. More hosts (another build, say)
# are timed in the same turns, a column each.
# Usage: bench/lzw_forms.sh [host [host...]]
set -euo pipefail
hosts=("${@:-build/bench/tools/kestovatiff}")
runs=${RUNS:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

here=$(dirname "$0")
. "$here/median_ms.sh"
. "$here/photo_bmp.sh"
. "$here/text_bmp.sh"
photo_bmp 4096 "$work/photo.bmp"
text_bmp 4096 "$work/text.bmp"

ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
header=$(printf '%-28s %7s' "4096 x 4096 LZW (ms)" tiffcp)
for i in "${!hosts[@]}"; do header+=$(printf ' %7s %7s' "host$((i + 1))" "/tiffcp"); done
echo "$header"
for content in photo text; do
  "${hosts[0]}" "$work/$content.bmp" "$work/$content.tif"
  for coding in lzw lzw:2; do
    file=$work/$content-${coding/:/-}.tif
    tiffcp -c "$coding" -r 16 "$work/$content.tif" "$file"
    commands=("rm -f $work/c.tif; tiffcp -c none $file $work/c.tif")
    for host in "${hosts[@]}"; do
      rm -f "$work/out.bmp"
      "$host" "$file" "$work/out.bmp"
      cmp -s "$work/out.bmp" "$work/$content.bmp" || { echo "$host, $content $coding: the BMP differs" >&2; exit 1; }
      commands+=("rm -f $work/out.bmp; $host $file $work/out.bmp")
    done
    read -r -a medians < <(interleaved_ms "$runs" "${commands[@]}")
    kind=$([[ $coding == lzw ]] && echo plain || echo predictor)
    line=$(printf '%-28s %7s' "$content $kind ($(($(stat -c %s "$file") / 1024)) KiB)" "${medians[0]}")
    for ((i = 1; i < ${#medians[@]}; i++)); do
      line+=$(printf ' %7s %7s' "${medians[i]}" "$(ratio "${medians[i]}" "${medians[0]}")")
    done
    echo "$line"
  done
done
