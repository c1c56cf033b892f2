#!/usr/bin/env bash
# Builds the fuzz targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a while (FUZZ_SECONDS, 60 by
# default), all at once, starting from the committed seeds and past
# failures. Exits non-zero when any target finds a crash, a leak, a hang or
# a failed check; the input that did it is left in
# build-fuzz/artifacts/<target>/ (add it to tests/fuzz/regressions/<target>/
# once mended). KELPO_WERROR=ON in the environment (as CI sets it) builds
# with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/packages.sh
install_packages clang libclang-rt-14-dev

seconds="${FUZZ_SECONDS:-60}"
targets=(compound_reader_fuzz compound_changes_fuzz workbook_roundtrip_fuzz script_functions_fuzz
  office_lock_fuzz)
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELPO_FUZZ=ON \
  -DKELPO_SANITIZE=ON -DKELPO_BENCH=OFF -DKELPO_WERROR="${KELPO_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

# A request larger than any image could need fails as it would without the
# sanitizer (the allocation throws), instead of stopping the run.
export ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=3072:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
pids=()
for t in "${targets[@]}"; do
  work="$PWD/$build/corpus/$t"
  artifacts="$PWD/$build/artifacts/$t"
  mkdir -p "$work" "$artifacts"
  inputs=("$PWD/tests/fuzz/corpus/$t")
  [ -d "tests/fuzz/regressions/$t" ] && inputs+=("$PWD/tests/fuzz/regressions/$t")
  "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 \
    -malloc_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "${inputs[@]}" >"$build/$t.log" 2>&1 &
  pids+=($!)
done

status=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "-- $t: $(grep -E '^stat::number_of_executed_units' "$build/$t.log" | awk '{print $2}') runs, no failure"
  else
    status=1
    echo "-- $t FAILED (log $build/$t.log, input in $build/artifacts/$t/):"
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written|runtime error' "$build/$t.log" | head -20
  fi
done
exit $status
