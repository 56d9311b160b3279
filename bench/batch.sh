#!/usr/bin/env bash
# Many files at once: 10,000 BMPs of 64 x 64 converted to TIFF by the host's
# batch (-o), by ImageMagick's mogrify, and by one host process per file
# through xargs -P; then a folder of large BMPs, in a batch against one
# conversion alone. Every run writes into a new, empty directory on the same
# disk as the sources, page cache warm; medians of 5 runs, each after a
# sync. Then the system calls each file costs, counted by strace -c -f.
# SMALL_FILES and LARGE_FILES set the counts (LARGE_FILES=0: none); a
# scratch folder on a memory file system (/dev/shm/...) measures the calls'
# cost without the disk's.
# Usage: bench/batch.sh [host] [scratch folder]
set -euo pipefail
host=$(realpath "${1:-build/bench/tools/kestovatiff}")
work=${2:-build/bench/batch}
small=${SMALL_FILES:-10000}
large=${LARGE_FILES:-16}
cores=$(nproc)
mkdir -p "$work"
work=$(realpath "$work")
trap 'rm -rf "$work/runs"' EXIT

# BMPs of the library's layout (rows of 3 x W bytes; padded and unpadded
# are the same for these widths), each picture different.
make_bmps() {  # folder count width height
  python3 - "$@" <<'PY'
import os, struct, sys
folder, count, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
os.makedirs(folder, exist_ok=True)
row = bytes(range(256)) * (3 * width // 256 + 2)
for i in range(count):
    pixels = b"".join(row[(y + i) % 256:][:3 * width] for y in range(height))
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(os.path.join(folder, f"{i:05d}.bmp"), "wb") as f:
        f.write(header + info + pixels)
PY
}
[[ $(ls "$work/small" 2>/dev/null | wc -l) == "$small" ]] || { rm -rf "$work/small"; make_bmps "$work/small" "$small" 64 64; }
[[ $(ls "$work/large" 2>/dev/null | wc -l) == "$large" ]] || { rm -rf "$work/large"; make_bmps "$work/large" "$large" 2048 2048; }
df -h "$work" | awk 'NR == 2 {print "scratch folder on " $1 " (" $NF ")"}'

# median_s COMMAND: seconds, the median of 5 runs, each with OUT a new
# directory. None is removed before the end: ext4 passes over the inodes of
# files deleted in the last minutes when it makes new ones, which would
# make each run pay for the last one's deletions. With "remove", each
# run's files are removed after it (for a few large files, which fill the
# page cache but are few inodes). Prints the median wall time, then the
# median processor time (user and system, all threads) of the runs.
median_s() {
  mkdir -p "$work/runs"
  python3 - "$1" "$(mktemp -d "$work/runs/XXXXXX")" "${2:-keep}" <<'PY'
import os, resource, shutil, statistics, subprocess, sys, time
command, base, keep = sys.argv[1], sys.argv[2], sys.argv[3] == "keep"
times, cpu = [], []
for run in range(5):
    out = os.path.join(base, str(run))
    os.makedirs(out)
    subprocess.run(["sync"], check=True)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command.replace("OUT", out), shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append(time.perf_counter() - start)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
    if not keep:
        shutil.rmtree(out)
print(f"{statistics.median(times):.3f} {statistics.median(cpu):.3f}")
PY
}
cat "$work"/small/* >/dev/null  # warm the page cache
[[ $large -eq 0 ]] || cat "$work"/large/* >/dev/null

wall() { echo "${1% *}"; }
cpu() { echo "${1#* }"; }
echo "$small BMPs of 64 x 64 to TIFF, $cores cores (seconds: wall, processor):"
row() { printf '  %-40s %8s %8s' "$1" "$(wall "$2")" "$(cpu "$2")"; }
batch=$(median_s "$host -q -o OUT $work/small")
row "kestovatiff -o" "$batch"; echo
row "kestovatiff -o -j1" "$(median_s "$host -q -j1 -o OUT $work/small")"; echo
if command -v mogrify >/dev/null; then
  mogrify=$(median_s "cd $work/small && mogrify -path OUT -format tif *.bmp")
  row "mogrify -format tif" "$mogrify"
  printf '  (%.1f times the batch)\n' "$(echo "$(wall "$mogrify") / $(wall "$batch")" | bc -l)"
fi
xargs=$(median_s "cd $work/small && ls | xargs -P $cores -I{} $host {} OUT/{}.tif")
row "kestovatiff per file, xargs -P $cores" "$xargs"
printf '  (%.1f times the batch)\n' "$(echo "$(wall "$xargs") / $(wall "$batch")" | bc -l)"

# System calls per file, every thread, into a new directory each.
if command -v strace >/dev/null; then
  calls() {  # label command (OUT: the output directory)
    local out
    out=$(mktemp -d "$work/runs/calls.XXXXXX")
    strace -c -f -o "$out.strace" sh -c "${2//OUT/$out}" >/dev/null 2>&1
    printf '  %-40s %8.1f system calls a file\n' "$1" \
      "$(awk '$NF == "total" {print $4}' "$out.strace" | head -1 | sed 's/$/ \/ '"$small"'/' | bc -l)"
    rm -rf "$out" "$out.strace"
  }
  calls "kestovatiff -o" "$host -q -o OUT $work/small"
  if command -v mogrify >/dev/null; then
    calls "mogrify -format tif" "cd $work/small && mogrify -path OUT -format tif *.bmp"
  fi
fi

[[ $large -gt 0 ]] || exit 0
# Large files: MB/s of wall time, and MB per second of processor time, which
# is what each core gives; the batch's should equal one conversion's.
rm -rf "$work/runs"
sync
bytes=$(cat "$work"/large/* | wc -c)
one=$(ls "$work"/large | head -1)
echo "$large BMPs of 2048 x 2048 ($((bytes / 1000000)) MB) to TIFF (MB/s: wall, per processor second):"
rates() {  # label bytes "wall cpu"
  printf '  %-40s %8.0f %8.0f\n' "$1" "$(echo "$2 / $(wall "$3") / 1000000" | bc -l)" \
    "$(echo "$2 / $(cpu "$3") / 1000000" | bc -l)"
}
rates "one file, one process" $((bytes / large)) "$(median_s "$host $work/large/$one OUT/one.tif" remove)"
for jobs in 1 "$cores"; do
  rates "kestovatiff -o -j$jobs" "$bytes" "$(median_s "$host -q -j$jobs -o OUT $work/large" remove)"
done
