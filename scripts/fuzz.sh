#!/usr/bin/env bash
# Runs every fuzz target of the fuzz build for a bounded time, two at a time,
# starting from its committed seed corpus (left untouched: new inputs go to a
# scratch folder). Fails when any target finds a crash; the crashing input is
# kept under build/fuzz/artifacts/<target>/.
#
#   scripts/fuzz.sh SECONDS [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in build/fuzz/bin/*_fuzzer; do targets+=("$(basename "$t")"); done
fi

run_one() {
  local target=$1 corpus scratch artifacts
  corpus=fuzz/corpus/${target%_fuzzer}
  scratch=build/fuzz/scratch/$target
  artifacts=build/fuzz/artifacts/$target
  mkdir -p "$scratch" "$artifacts"
  if "build/fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$scratch" "$corpus" \
      > "build/fuzz/$target.log" 2>&1; then
    echo "fuzz: $target: $(grep -o 'number_of_executed_units: *[0-9]*' "build/fuzz/$target.log" | grep -o '[0-9]*$') executions, no crash"
  else
    echo "fuzz: $target FOUND A CRASH (see build/fuzz/$target.log and $artifacts)"
    tail -30 "build/fuzz/$target.log"
    return 1
  fi
}

status=0
pids=()
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge 2 ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
