#!/usr/bin/env bash
# The benchmark in one command: installs what is missing, builds the bench
# preset (Release, no -march: the code paths the Windows build gets, chosen at
# run time), makes the inputs once under build/bench/inputs and prints the
# tables. Arguments go to bench/bench.py (--runs N, --only TABLES,
# --fresh-inputs). Not part of scripts/test.sh: it measures, it never fails a
# build over a time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh bench
exec python3 bench/bench.py "$@"
