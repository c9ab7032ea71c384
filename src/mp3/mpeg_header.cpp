// Frame start test and frame length of MPEG-1 Layer III at 44 100 Hz, and the
// length of a leading ID3v2 tag. Table look-ups and integer arithmetic only:
// the reader runs this once per frame.
#include "mp3/mpeg_header.h"

const unsigned int bitrate_mpeg_layer3[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                              112, 128, 160, 192, 224, 256, 320};

namespace {

constexpr std::uint8_t second_byte_mask = 0xFA;
constexpr std::uint8_t padding_bit = 0x02;
constexpr unsigned int bitrate_index_none = 15;

}  // namespace

unsigned int mpeg_frame_size(std::uint8_t b2) {
  const unsigned int index = b2 >> 4;
  // Index 15 is forbidden in MPEG; 0 is a length every caller rejects, with
  // or without the padding bit.
  if (index == bitrate_index_none) return 0;
  // 144 * 1000 / 44100 bytes per kbit/s, multiplied first so that the
  // division truncates once.
  unsigned int length = bitrate_mpeg_layer3[index] * 1440u / 441u;
  if (b2 & padding_bit) length += 1;
  return length;
}

unsigned int mpeg_header_size(const std::uint8_t header[4]) {
  if (header[0] != 0xFF || (header[1] & second_byte_mask) == 0) return 0;
  return mpeg_frame_size(header[2]);
}

bool mpeg_frame_valid(const std::uint8_t frame[2]) {
  return frame[0] != 0 && (frame[1] & second_byte_mask) != 0;
}

bool mpeg_frame_length_usable(unsigned int length) { return length - 1u <= max_frame_length - 1u; }

unsigned int id3v2_tag_length(const std::uint8_t start[id3v2_header_length]) {
  constexpr std::uint8_t footer_flag = 0x10;  // defined from version 4 on
  constexpr unsigned int footer_length = 10;
  if (start[0] != 'I' || start[1] != 'D' || start[2] != '3') return 0;
  const std::uint8_t major = start[3], revision = start[4], flags = start[5];
  if (major == 0xFF || revision == 0xFF) return 0;
  unsigned int body = 0;
  for (int i = 6; i < 10; ++i) {
    if (start[i] & 0x80) return 0;  // a syncsafe byte never has its top bit set
    body = (body << 7) | start[i];
  }
  unsigned int length = id3v2_header_length + body;
  if (major >= 4 && (flags & footer_flag)) length += footer_length;
  return length;
}
