#!/usr/bin/env bash
# Runs the fuzz targets one after another, each for SECONDS (default 600), from a build folder
# configured with VANTLE_BUILD_FUZZ=ON (see README.md). Usage:
#   fuzz/run-fuzzers.sh <build folder> [target...]
# The growing corpus lives in <build>/fuzz-corpus/<target> (the committed seeds are read, never
# written); crashes, leaks and timeouts land in <build>/fuzz-artifacts/<target>/; each run's
# output is <build>/fuzz-<target>.log.
set -uo pipefail
build="$(cd "${1:?build folder}" && pwd)"
shift
here="$(cd "$(dirname "$0")" && pwd)"
seconds="${SECONDS_PER_TARGET:-600}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(binaryXml manifest resourceTable vector pathData zipContainer)
status=0
for target in "${targets[@]}"; do
  mkdir -p "$build/fuzz-corpus/$target" "$build/fuzz-artifacts/$target"
  echo "fuzz: $target for ${seconds}s"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/$target/" "$build/fuzz-corpus/$target" "$here/seeds/$target" \
    >"$build/fuzz-$target.log" 2>&1 || status=1
  tail -n 12 "$build/fuzz-$target.log" | grep -E 'Done|stat::number_of_executed_units|ERROR|SUMMARY' || true
done
exit $status
