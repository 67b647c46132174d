#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ and runs each over a
# fresh copy of its seed corpus (fuzz/corpus/<target>/), as many at a time as
# there are cores. A crash, a leak, undefined behaviour or a broken property
# fails the run; the input that did it is kept in build-fuzz/fuzz/artifacts/
# (replay it with build-fuzz/fuzz/fuzz_<target> <file>).
#
#   fuzz/run.sh                    every target for 30 seconds
#   fuzz/run.sh 300 outline text   those two for 5 minutes each
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do
    targets+=("$(basename "$dir")")
  done
fi

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DQUORVEL_FUZZ=ON \
  -DQUORVEL_GUI=OFF -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzzers

out=build-fuzz/fuzz
rm -rf "$out/work" "$out/logs"
mkdir -p "$out/work" "$out/logs" "$out/artifacts"

run() {
  local t=$1
  cp -r "fuzz/corpus/$t" "$out/work/$t"
  "$out/fuzz_$t" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$t-" "$out/work/$t" >"$out/logs/$t.log" 2>&1
}

failed=()
pids=()
names=()
jobs=$(nproc)
finish() {  # waits for the oldest running target
  local pid=${pids[0]} name=${names[0]}
  pids=("${pids[@]:1}")
  names=("${names[@]:1}")
  if wait "$pid"; then
    echo "fuzz: $name clean, $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out/logs/$name.log" | grep -o '[0-9]*$') runs"
  else
    failed+=("$name")
    echo "fuzz: $name FAILED"
    tail -n 60 "$out/logs/$name.log"
  fi
}
for t in "${targets[@]}"; do
  [ -d "fuzz/corpus/$t" ] || { echo "fuzz: no corpus for '$t'" >&2; exit 2; }
  [ ${#pids[@]} -ge "$jobs" ] && finish
  run "$t" &
  pids+=($!)
  names+=("$t")
done
while [ ${#pids[@]} -gt 0 ]; do
  finish
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs in $out/artifacts/)" >&2
  exit 1
fi
