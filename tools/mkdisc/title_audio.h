// The bytes of one generated title file: MPEG-1 Layer III frames at
// 44 100 Hz whose side information is all zero, so that decoders play them as
// silence, with the damage and the tags that real discs carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkdisc {

enum class padding_pattern { none, alternating };

// Bytes put between frames: after frame `after_frame` (0: before the first
// frame, which makes the file fail the player's start test).
struct insertion {
  unsigned int after_frame = 0;
  unsigned int bytes = 0;
  bool zeros = false;  // zero bytes; otherwise random bytes without 0xFF
};

struct title_options {
  unsigned int frames = 8;
  unsigned int bitrate = 128;  // kbit/s, an MPEG-1 Layer III rate
  padding_pattern padding = padding_pattern::none;
  std::vector<insertion> insertions;
  unsigned int partial_tail = 0;  // bytes of one more frame, cut short
  bool tag = false;               // a trailing 128-byte "TAG" block
  bool id3v2 = false;             // a leading ID3v2 tag
  unsigned int id3v2_padding = 0;
  bool id3v2_footer = false;  // an ID3v2.4 tag with a footer (and no padding)
  // Not 0: the last four bytes of each frame say "S", this number (its low
  // byte) and the frame's index (two bytes, high first), so that the stream
  // a decoder received tells which frames came in which order.
  unsigned int stamp = 0;
};

struct title_names {
  std::string title, artist, album;
};

// The bitrates a frame header can carry, by index 1 to 14.
bool is_layer3_bitrate(unsigned int kbps);

// The whole file. `seed` makes random junk bytes repeatable.
std::vector<std::uint8_t> title_bytes(const title_options &options, const title_names &names,
                                      std::uint32_t seed);

// One frame: header and all-zero side information and main data. A bitrate
// with no table entry throws std::invalid_argument.
std::vector<std::uint8_t> silent_frame(unsigned int bitrate, bool padded);

}  // namespace mkdisc
