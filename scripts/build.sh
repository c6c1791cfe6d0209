#!/usr/bin/env bash
# Configures and builds the given presets (default: native and windows).
# Quiet on success; on failure prints the build's output.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native windows)
mkdir -p build
for preset in "${presets[@]}"; do
  log="build/$preset.build.log"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -- -j2; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "build of preset '$preset' failed" >&2
    exit 1
  fi
done
