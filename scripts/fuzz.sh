#!/usr/bin/env bash
# Builds the frame reader's fuzz target (DISCBOX_FUZZ: clang's libFuzzer,
# ASan and UBSan, from the same core library as the player) and runs it.
# Usage: scripts/fuzz.sh [SECONDS] (default 600). The corpus starts from
# titles made by the disc generator and stays in build/fuzz/corpus.
# DISCBOX_WERROR=ON makes warnings errors, as in the test command.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
scripts/install-deps.sh test
out=build/fuzz
cmake -S . -B "$out" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DDISCBOX_FUZZ=ON -DDISCBOX_WERROR="${DISCBOX_WERROR:-OFF}" \
  -DDISCBOX_BUILD_TESTS=OFF -DDISCBOX_BUILD_BENCH=OFF >/dev/null
cmake --build "$out" -j "$(nproc)" --target frame_reader_fuzz mkdisc

# Seeds: small titles with damage, tags and padding.
mkdir -p "$out/corpus"
if [ -z "$(ls -A "$out/corpus")" ]; then
  i=0
  for options in "" "--padding alternating --partial-tail 100" "--tag --zeros 2:3" \
                 "--id3v2=20 --junk 1:50" "--id3v2-footer --bitrate 320" "--bitrate 32 --tag"; do
    rm -rf "$out/seed"
    # shellcheck disable=SC2086
    "$out/tools/mkdisc/mkdisc" --frames 4 $options --entry t.mp3 "$out/seed" >/dev/null
    cp "$out/seed/t.mp3" "$out/corpus/seed$((i++))"
  done
  rm -rf "$out/seed"
fi
"$out/frame_reader_fuzz" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
  "$out/corpus"
