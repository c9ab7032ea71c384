#!/usr/bin/env bash
# Builds the reader's fuzz target with clang's libFuzzer (ASan and UBSan on)
# and runs it. Usage: scripts/fuzz.sh [SECONDS] (default 600). The corpus
# starts from titles made by the disc generator and stays in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
scripts/install-deps.sh test
out=build/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Isrc fuzz/frame_reader_fuzz.cpp src/mp3/frame_reader.cpp src/mp3/mpeg_header.cpp \
  -o "$out/frame_reader_fuzz"

# Seeds: small titles with damage, tags and padding.
if [ -z "$(ls -A "$out/corpus")" ]; then
  cmake -S . -B "$out/tools" -G Ninja -DDISCBOX_BUILD_TESTS=OFF -DDISCBOX_BUILD_BENCH=OFF >/dev/null
  cmake --build "$out/tools" --target mkdisc >/dev/null
  i=0
  for options in "" "--padding alternating --partial-tail 100" "--tag --zeros 2:3" \
                 "--id3v2=20 --junk 1:50" "--id3v2-footer --bitrate 320" "--bitrate 32 --tag"; do
    rm -rf "$out/seed"
    # shellcheck disable=SC2086
    "$out/tools/tools/mkdisc/mkdisc" --frames 4 $options --entry t.mp3 "$out/seed" >/dev/null
    cp "$out/seed/t.mp3" "$out/corpus/seed$((i++))"
  done
  rm -rf "$out/seed"
fi
"$out/frame_reader_fuzz" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
  "$out/corpus"
