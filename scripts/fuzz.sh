#!/usr/bin/env bash
# Builds the fuzz targets of the picture decoders and of the memory-file reader with clang (libFuzzer,
# AddressSanitizer, UBSan) and runs each for a fixed time, starting from the seed corpus in fuzz/corpus.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# New inputs go to build-fuzz/corpus-<target>; crashes to build-fuzz/crashes-<target>.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2

status=0
# The memory-file target lays out small networks whose store files go to a temporary folder of its own.
mkdir -p "$build/tmp"
for target in Jpeg Bmp Memory; do
  lower=$(echo "$target" | tr '[:upper:]' '[:lower:]')
  mkdir -p "$build/corpus-$lower" "$build/crashes-$lower"
  echo "== $target: $seconds s"
  if ! QT_QPA_PLATFORM=offscreen TMPDIR="$build/tmp" "$build/${target}Fuzzer" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -malloc_limit_mb=1536 \
      -artifact_prefix="$build/crashes-$lower/" -print_final_stats=1 \
      "$build/corpus-$lower" "$root/fuzz/corpus/$lower"; then
    echo "!! $target: the fuzzer found a failure, see $build/crashes-$lower"
    status=1
  fi
done
exit $status
