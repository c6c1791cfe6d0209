#!/usr/bin/env bash
# Every test of the project, from a fresh Debian 12 machine: installs what is
# missing, builds, then runs the native unit tests (plain and with ASan+UBSan),
# the fuzz targets for a short time, and the real executable under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
step() { printf '\n== %s (%d s so far)\n' "$*" $((SECONDS - started)); }

step "setup"
scripts/setup.sh
started=$SECONDS  # the set-up is not counted

step "native build and unit tests"
scripts/build.sh native
ctest --preset native -j2 --timeout 300

step "native build with AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/build.sh native-asan
ctest --preset native-asan -j2 --timeout 600

step "fuzz targets (short run)"
tests/fuzz/run.sh "${PELKO_FUZZ_SECONDS:-20}"

step "Windows build"
# The launcher, and the same with two test release keys built in.
for key in first second; do
  [ -f "build/test-keys/$key/release-key.pem" ] || tools/release.py keygen --out "build/test-keys/$key" >/dev/null
done
scripts/build.sh windows windows-keyed
for exe in build/windows/Pelko-Setup.exe build/windows-keyed/Pelko-Setup.exe; do
  if x86_64-w64-mingw32-objdump -p "$exe" | grep 'DLL Name' | grep -viE \
      'KERNEL32|msvcrt|SHELL32|USER32|GDI32|ADVAPI32|COMDLG32'; then
    echo "$exe imports a library outside the system set" >&2
    exit 1
  fi
done

# After the Windows build: the release tool's tests sign Pelko-Setup.exe.
step "tools"
python3 -m unittest discover -s tests/tools

step "the real executable under Wine"
# A home on a small disk of its own, for the full-disk test (mounted as root or
# with sudo, like the set-up's packages; the test fails without it).
small_disk=build/e2e/small-disk
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
mkdir -p "$small_disk"
if ! mountpoint -q "$small_disk"; then
  "${sudo_cmd[@]}" mount -t tmpfs -o size=8m,mode=1777 pelko-small-disk "$small_disk"
  trap '"${sudo_cmd[@]}" umount "$small_disk" || true' EXIT
fi
python3 tests/e2e/run_e2e.py

echo
echo "all tests passed in $((SECONDS - started)) s after the set-up"
# The tests stay at most half the size of the rest of the code.
python3 scripts/count_lines.py --limit 0.50
