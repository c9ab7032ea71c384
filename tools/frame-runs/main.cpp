// frame-runs: reads a stream of MPEG frames (what frame-sink received) and
// prints which frames it holds, by the stamps mkdisc --stamp writes into the
// last four bytes of each frame ("S", title number, index high, index low):
//   T:A-B        frames A to B of title T, in order, one line per run
//   unstamped N  N frames in a row without a stamp
//   junk AT      the bytes at offset AT start no frame (the walk stops there)
//   partial N    the stream ends inside a frame, N bytes into it
//   frames N     the whole frames, last
// Frames are found by the player's own header rule.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mp3/mpeg_header.h"

namespace {

constexpr std::size_t stamp_bytes = 4;

struct run {
  int title = -1;  // -1: unstamped
  int first = 0;
  int last = 0;
  int count = 0;
};

void print(const run &r) {
  if (r.count == 0) return;
  if (r.title < 0) {
    std::printf("unstamped %d\n", r.count);
  } else {
    std::printf("%d:%d-%d\n", r.title, r.first, r.last);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: frame-runs STREAM\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "frame-runs: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::vector<std::uint8_t> stream{std::istreambuf_iterator<char>(in), {}};
  run current;
  std::size_t offset = 0;
  int frames = 0;
  while (offset < stream.size()) {
    const unsigned int length =
        offset + 4 <= stream.size() ? mpeg_header_size(stream.data() + offset) : 0;
    if (length < stamp_bytes + 4 || !mpeg_frame_length_usable(length)) {
      print(current);
      current = run{};
      std::printf("junk %zu\n", offset);
      break;
    }
    if (offset + length > stream.size()) {
      print(current);
      current = run{};
      std::printf("partial %zu\n", stream.size() - offset);
      break;
    }
    const std::uint8_t *stamp = stream.data() + offset + length - stamp_bytes;
    const int title = stamp[0] == 'S' ? stamp[1] : -1;
    const int index = title < 0 ? 0 : stamp[2] << 8 | stamp[3];
    const bool continues =
        current.count > 0 && title == current.title && (title < 0 || index == current.last + 1);
    if (!continues) {
      print(current);
      current = run{title, index, index, 0};
    }
    current.last = index;
    ++current.count;
    ++frames;
    offset += length;
  }
  print(current);
  std::printf("frames %d\n", frames);
  return 0;
}
