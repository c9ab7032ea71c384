#!/usr/bin/env bash
# The player command: installs what the build needs, builds, and starts
# discbox-sim with the bundled demo discs (or the discs and options given).
set -euo pipefail
cd "$(dirname "$0")/.."
# Sound needs the real decoder and PCM player; a silent run does not.
sound_packages=()
for argument in "$@"; do
  if [ "$argument" = --sound ]; then sound_packages=(mpg123 alsa-utils); fi
done
scripts/install-deps.sh build "${sound_packages[@]}"
cmake -S . -B build/release -G Ninja -DDISCBOX_BUILD_TESTS=OFF -DDISCBOX_BUILD_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
exec build/release/discbox-sim "$@"
