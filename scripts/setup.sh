#!/usr/bin/env bash
# Installs everything the builds, the tests and the demo need on Debian 12.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  # builds
  cmake ninja-build g++ mingw-w64 libgtest-dev libgmock-dev
  # fuzzing
  clang libclang-rt-14-dev
  # oracles and peers the codec tests compare against
  zlib1g-dev libssl-dev libdeflate-tools 7zip libarchive-tools zip unzip xdelta3 pigz isal python3
  # the benchmark's SHA-256 peer (sha256sum comes with coreutils)
  openssl
  # the real executable under Wine, on a virtual display
  wine64 wine xvfb xauth x11-apps imagemagick xdotool
  # Wine's BCrypt needs it to verify ECDSA signatures
  libgnutls30
  # the release tool's Authenticode signing of the launcher executable
  osslsigncode
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
