#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time, as many side
# by side as there are processors.
#   tests/fuzz/run.sh            about 20 s per target (what the test command runs)
#   tests/fuzz/run.sh 3600       a longer campaign: an hour per target
# Large declared sizes are allocated as asked, so failed allocations must
# return null rather than abort, and memory is capped.
set -euo pipefail
cd "$(dirname "$0")/../.."
export seconds="${1:-20}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

# One target, with its seeds if it has any; its log goes under build/fuzz, and its end is shown on a failure.
run_target() {
  local name=$1 work="build/fuzz/corpus-${1#fuzz_}" seeds="tests/fuzz/corpus/${1#fuzz_}"
  mkdir -p "$work"
  [ -d "$seeds" ] || seeds=
  echo "fuzz: $name for ${seconds}s"
  ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/fuzz/tests/fuzz/$name" -max_total_time="$seconds" -malloc_limit_mb=2048 -rss_limit_mb=4096 \
    -timeout=10 -print_final_stats=0 -artifact_prefix="build/fuzz/$name-" "$work" $seeds \
    > "build/fuzz/$name.log" 2>&1 && return
  echo "fuzz: $name FAILED (log: build/fuzz/$name.log)"
  tail -n 40 "build/fuzz/$name.log"
  return 1
}
export -f run_target
basename -s .cpp tests/fuzz/fuzz_*.cpp | xargs -P "${PELKO_FUZZ_JOBS:-$(nproc)}" -I{} bash -c 'run_target {}'
