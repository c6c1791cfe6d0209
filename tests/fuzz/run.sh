#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time, as many side
# by side as there are processors.
#   tests/fuzz/run.sh            about 20 s per target (what the test command runs)
#   tests/fuzz/run.sh 3600       a longer campaign: an hour per target
# Large declared sizes are allocated as asked, so failed allocations must
# return null rather than abort, and memory is capped.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-20}"
jobs="${PELKO_FUZZ_JOBS:-$(nproc)}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

# One target: its log under build/fuzz, and a status file there saying ok when it ends clean.
run_target() {
  local name=$1
  local corpus="tests/fuzz/corpus/${name#fuzz_}" work="build/fuzz/corpus-${name#fuzz_}"
  local seeds=()
  mkdir -p "$work"
  [ -d "$corpus" ] && seeds=("$corpus")
  ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/fuzz/tests/fuzz/$name" -max_total_time="$seconds" -malloc_limit_mb=2048 -rss_limit_mb=4096 \
    -timeout=10 -print_final_stats=0 -artifact_prefix="build/fuzz/$name-" "$work" "${seeds[@]}" \
    > "build/fuzz/$name.log" 2>&1 && echo ok > "build/fuzz/$name.status"
}

mapfile -t names < <(basename -s .cpp tests/fuzz/fuzz_*.cpp)

running=0
for name in "${names[@]}"; do
  echo "fuzz: $name for ${seconds}s"
  rm -f "build/fuzz/$name.status"
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

status=0
for name in "${names[@]}"; do
  if [ "$(cat "build/fuzz/$name.status" 2>/dev/null)" != ok ]; then
    echo "fuzz: $name FAILED (log: build/fuzz/$name.log)"
    tail -n 40 "build/fuzz/$name.log"
    status=1
  fi
done
exit $status
