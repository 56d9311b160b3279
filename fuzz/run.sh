#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time from a fresh seed
# corpus, printing its executions per second. Fails on any crash, leak,
# sanitizer report or failed check.
# Usage: fuzz/run.sh [seconds per target, default 120] [target...]
#   targets: bmp2tiff tiff2bmp tiff_reader lzw packbits deflate ccitt jpeg (default all)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(bmp2tiff tiff2bmp tiff_reader lzw packbits deflate ccitt jpeg)

# zlib's source as Debian builds it, for the fuzz preset to compile with the
# fuzzer's instrumentation: fetched once through apt from Debian's source
# archive (a list of its own, so the machine's sources are left as they
# are). Without it the targets link the system's zlib and say so.
zlib=build/zlib-source
mkdir -p build
if [[ ! -f $zlib/zlib.h ]]; then
  fetch=$(mktemp -d "$PWD/build/zlib-fetch.XXXXXX")
  mkdir -p "$fetch/parts"
  printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' 'Components: main' \
    'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$fetch/parts/zlib-source.sources"
  apt=(apt-get -qq -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$fetch/parts"
       -o APT::Get::List-Cleanup=0)
  if "${apt[@]}" update >"$fetch/log" 2>&1 && (cd "$fetch" && "${apt[@]}" source zlib) >>"$fetch/log" 2>&1; then
    rm -rf "$zlib"
    mv "$fetch"/zlib-*/ "$zlib"
  else
    echo "warning: zlib's source could not be fetched; the fuzz targets use the system's zlib:" >&2
    tail -n 5 "$fetch/log" >&2
  fi
  rm -rf "$fetch"
fi
cmake --workflow --preset fuzz >/dev/null
build=build/fuzz/fuzz
rm -rf "$build/corpus"
mkdir -p "$build/corpus/"{bmp,tiff,lzw,packbits,deflate,ccitt,jpeg} "$build/artifacts"
"$build/make_seeds" "$build/corpus/"{bmp,tiff,lzw,packbits,deflate,ccitt,jpeg}
for target in "${targets[@]}"; do
  case $target in
    bmp2tiff) seeds=bmp ;;
    tiff2bmp | tiff_reader) seeds=tiff ;;
    *) seeds=$target ;;
  esac
  # Each target grows a corpus of its own from the seeds.
  corpus=$build/corpus/$target-run
  rm -rf "$corpus"
  cp -r "$build/corpus/$seeds" "$corpus"
  echo "== fuzz_$target for ${seconds}s"
  log=$build/$target.log
  status=0
  # Files of up to 64 KiB, as real ones are.
  "$build/fuzz_$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$corpus" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|check failed|SUMMARY)' \
    "$log" || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz_$target: $((${runs:-0} / seconds)) executions/s"
  if ((status != 0)); then
    tail -n 40 "$log" >&2
    echo "fuzz_$target failed (exit $status); the input is in $build/artifacts/" >&2
    exit 1
  fi
done
