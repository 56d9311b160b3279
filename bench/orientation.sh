#!/usr/bin/env bash
# Orientation 5 to 8 (rows and columns exchanged, made in two passes
# through a scratch file) against Orientation 1, whole processes, on the
# same 4096 x 4096 LZW file with only its Orientation changed (strips,
# and 256 x 256 tiles of separate planes); medians of 5 runs in ms, wall
# and processor time, and their ratios in the same run. Then the host's
# peak resident memory for a 64 x 64 and an 8192 x 8192 LZW picture in
# Orientation 6.
# Needs libtiff-tools (tiffcp, tiffset) and time.
# Usage: bench/orientation.sh [path to the kestovatiff host]
set -euo pipefail
host=${1:-build/bench/tools/kestovatiff}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/photo_bmp.sh"

# $1 side, $2 name: LZW strips and LZW tiled planes of the picture, each
# copied in Orientation 1 and 5 to 8.
make_forms() {
  photo_bmp "$1" "$work/picture.bmp"
  "$host" "$work/picture.bmp" "$work/strips.tif"
  tiffcp -c lzw:2 "$work/strips.tif" "$work/$2-strips-1.tif"
  tiffcp -c lzw:2 -p separate -t -w 256 -l 256 "$work/strips.tif" "$work/$2-tiles-1.tif"
  for layout in strips tiles; do
    for orientation in 5 6 7 8; do
      cp "$work/$2-$layout-1.tif" "$work/$2-$layout-$orientation.tif"
      tiffset -s 274 "$orientation" "$work/$2-$layout-$orientation.tif"
    done
    tiffset -s 274 1 "$work/$2-$layout-1.tif"
  done
}

make_forms 4096 big
# Median wall time and median processor time (user and system) of 5 runs:
# on a shared machine the second is the steadier measure of the work.
wall_and_cpu_ms() {
  python3 - "$1" <<'PY'
import os, statistics, subprocess, sys, time
walls, cpus = [], []
for _ in range(5):
    before = os.times()
    start = time.perf_counter()
    subprocess.run(sys.argv[1], shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    walls.append((time.perf_counter() - start) * 1000)
    after = os.times()
    cpus.append((after.children_user + after.children_system - before.children_user - before.children_system) * 1000)
print(f"{statistics.median(walls):.0f} {statistics.median(cpus):.0f}")
PY
}
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
printf '%-30s %8s %8s %8s %8s\n' "4096 x 4096 LZW (ms)" wall "/ 1" cpu "/ 1"
for layout in strips tiles; do
  base=
  for orientation in 1 5 6 7 8; do
    read -r wall cpu < <(wall_and_cpu_ms "rm -f $work/out.bmp; $host $work/big-$layout-$orientation.tif $work/out.bmp")
    base=${base:-"$wall $cpu"}
    printf '%-30s %8s %8s %8s %8s\n' "$layout, orientation $orientation" "$wall" "$(ratio "$wall" "${base% *}")" \
      "$cpu" "$(ratio "$cpu" "${base#* }")"
  done
done

peak_kib() {  # peak resident set of one run, in KiB
  /usr/bin/time -f %M "$host" "$@" 2>&1 >/dev/null | tail -n 1
}
status=0
make_forms 64 small
make_forms 8192 large
for layout in strips tiles; do
  small=$(peak_kib "$work/small-$layout-6.tif" "$work/out.bmp")
  large=$(peak_kib "$work/large-$layout-6.tif" "$work/out.bmp")
  echo "peak RSS, $layout in orientation 6: 64x64 $small KiB, 8192x8192 $large KiB, growth $((large - small)) KiB"
  if ((large - small >= 2048)); then
    echo "memory grows with the picture" >&2
    status=1
  fi
done
exit $status
