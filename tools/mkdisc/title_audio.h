// The bytes of one generated title file: MPEG audio frames of one version,
// layer, sampling rate and bitrate (MPEG-1 Layer III at 44 100 Hz unless told
// otherwise) whose side information is all zero, so that decoders play them
// as silence, with the damage and the tags that real discs carry.
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

enum class mpeg_version { mpeg_1, mpeg_2, mpeg_2_5 };

// What every frame of a title is: the fields of its header that give its
// length.
struct frame_format {
  mpeg_version version = mpeg_version::mpeg_1;
  unsigned int layer = 3;            // 1, 2 or 3
  unsigned int sample_rate = 44100;  // Hz, one of the version's three rates
  unsigned int bitrate = 128;        // kbit/s, from the version's and layer's table
};

struct title_options : frame_format {
  unsigned int frames = 8;
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
  // Music instead of silent frames: each title a piece of its own (see
  // music_title.h); frames, format and tags as above, the damage not.
  bool music = false;
};

struct title_names {
  std::string title, artist, album;
};

// The bitrates an MPEG-1 Layer III frame header can carry, by index 1 to 14.
bool is_layer3_bitrate(unsigned int kbps);

// Whether a header can describe frames of this format (MPEG-2.5 has only
// Layer III); if not, `error` says which field is wrong.
bool is_valid_format(const frame_format &format, std::string &error);

// The length in bytes of a frame of this format.
unsigned int frame_length(const frame_format &format, bool padded);

// Reads the format from a frame's four header bytes; false when they start
// no frame of a known length (no sync, a reserved field, free format).
bool read_frame_format(const std::uint8_t header[4], frame_format &format, bool &padded);

// The whole file. `seed` makes random junk bytes repeatable.
std::vector<std::uint8_t> title_bytes(const title_options &options, const title_names &names,
                                      std::uint32_t seed);

// `frames` with the tags `options` asks for around them.
std::vector<std::uint8_t> tagged_title(const std::vector<std::uint8_t> &frames,
                                       const title_options &options, const title_names &names);

// One frame: header and all-zero side information and main data. A format
// that no header can describe throws std::invalid_argument.
std::vector<std::uint8_t> silent_frame(const frame_format &format, bool padded);
// The same for MPEG-1 Layer III at 44 100 Hz.
std::vector<std::uint8_t> silent_frame(unsigned int bitrate, bool padded);

}  // namespace mkdisc
