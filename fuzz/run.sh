#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in fuzz/build and runs each for the given
# number of seconds (default 60), two at a time. Findings are written to
# fuzz/build/findings/<target>/; each target's log to fuzz/build/<target>.log.
#
#   fuzz/run.sh [seconds] [target ...]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(arg_list translate template replace path regex_diff review ignore_glob)
fi
build="${RPLC_FUZZ_BUILD:-$here/build}"
jobs="${RPLC_FUZZ_JOBS:-2}"

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/%/_fuzz}"

run_one() {
  local target="$1"
  local work="$build/corpus/$target"
  local findings="$build/findings/$target"
  local status
  mkdir -p "$work" "$findings"
  # The repository's seeds stay untouched; new inputs go to the work corpus.
  "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" "$here/corpus/$target" >"$build/$target.log" 2>&1 && status=0 || status=$?
  local runs
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/$target.log" | grep -o '[0-9]*$' || echo '?')"
  echo "$target: status $status, $runs executions"
  return $status
}

failed=0
pids=()
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
exit $failed
