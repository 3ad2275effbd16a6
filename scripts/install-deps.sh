#!/usr/bin/env bash
# Installs the toolchains and peer programs the build and the tests use.
# Idempotent: packages already present are left alone.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

# --build: only what building the native library and program needs. The
# program reads and converts audio with libsndfile and libsoxr; the engine
# library itself needs neither.
need=()
want=(cmake make g++ libasound2-dev pkg-config libsndfile1-dev libsoxr-dev)
if [ "${1:-}" != "--build" ]; then
  want+=(clang libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
         g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386
         ffmpeg faad libbcg729-dev sox espeak-ng alsa-utils python3)
fi
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed'; then
    need+=("$p")
  fi
done

if [ ${#need[@]} -eq 0 ]; then
  echo "install-deps: everything already installed"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
echo "install-deps: installed ${need[*]}"
