#!/usr/bin/env bash
# Whole-program time of converting the 4096 x 4096 BMP forms to TIFF: the
# host against the peers a user might pick instead, on the same files (made
# by kestovatiff_bench's BmpForm cases), page cache warm. Medians of 5 runs.
# Peers that are not installed are left out (Debian: python3-pil,
# imagemagick, netpbm).
# Usage: bench/peers.sh [host] [folder of the form files]
set -euo pipefail
host=${1:-build/bench/tools/kestovatiff}
data=${2:-build/bench/bench/data}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

. "$(dirname "$0")/median_ms.sh"

# Each run writes a new file, as a first conversion does: replacing one
# would add the flush the library makes before it replaces a file.
declare -A commands=([kestovatiff]="rm -f $out/k.tif; $host IN $out/k.tif")
for python in python3 /usr/bin/python3; do
  if "$python" -c 'import PIL' 2>/dev/null; then
    commands[pillow]="rm -f $out/p.tif; $python -c \"from PIL import Image; Image.open('IN').save('$out/p.tif')\""
    break
  fi
done
command -v convert >/dev/null && commands[imagemagick]="rm -f $out/m.tif; convert IN $out/m.tif"
command -v bmptopnm >/dev/null && commands[netpbm]="rm -f $out/n.tif; bmptopnm IN | pnmtotiff > $out/n.tif"
tools=(kestovatiff pillow imagemagick netpbm)

printf '%-24s' "file (ms)"
for tool in "${tools[@]}"; do [[ -n ${commands[$tool]:-} ]] && printf '%12s' "$tool"; done
echo
for file in form-24 form0 form1 form2 form3; do
  case $file in
    form-24) name="24-bit";; form0) name="8-bit palette";; form1) name="RLE8";;
    form2) name="32-bit";; form3) name="32-bit alpha, V5";;
  esac
  [[ -f $data/$file.bmp ]] || { echo "missing $data/$file.bmp: run kestovatiff_bench --benchmark_filter=BmpForm first" >&2; exit 1; }
  cat "$data/$file.bmp" >/dev/null  # warm the page cache
  printf '%-24s' "$name"
  for tool in "${tools[@]}"; do
    [[ -n ${commands[$tool]:-} ]] || continue
    printf '%12s' "$(median_ms "${commands[$tool]//IN/$data/$file.bmp}")"
  done
  echo
done
