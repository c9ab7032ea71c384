// Frame start test and frame length of MPEG audio frames, and the length of
// a leading ID3v2 tag. Table look-ups and integer arithmetic only: the reader
// runs this once per frame.
#include "mp3/mpeg_header.h"

const unsigned int bitrate_mpeg_layer3[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                              112, 128, 160, 192, 224, 256, 320};

namespace {

constexpr std::uint8_t second_byte_mask = 0xFA;
constexpr std::uint8_t padding_bit = 0x02;
constexpr unsigned int bitrate_index_none = 15;
constexpr unsigned int rate_index_reserved = 3;

// Byte 1, bits 4 and 3.
enum version : unsigned int { mpeg_2_5 = 0, version_reserved = 1, mpeg_2 = 2, mpeg_1 = 3 };
// Byte 1, bits 2 and 1.
enum layer : unsigned int { layer_reserved = 0, layer_3 = 1, layer_2 = 2, layer_1 = 3 };

// kbit/s by bitrate index 0 to 14, ISO/IEC 11172-3 and 13818-3.
constexpr unsigned int mpeg1_layer1[15] = {0,   32,  64,  96,  128, 160, 192, 224,
                                           256, 288, 320, 352, 384, 416, 448};
constexpr unsigned int mpeg1_layer2[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                           128, 160, 192, 224, 256, 320, 384};
constexpr unsigned int mpeg2_layer1[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                           128, 144, 160, 176, 192, 224, 256};
constexpr unsigned int mpeg2_layer2_3[15] = {0,  8,  16, 24,  32,  40,  48, 56,
                                             64, 80, 96, 112, 128, 144, 160};

// Hz by sampling-rate index 0 to 2, for MPEG-1; MPEG-2 halves them, MPEG-2.5
// quarters them.
constexpr unsigned int mpeg1_rates[3] = {44100, 48000, 32000};

const unsigned int *bitrates(unsigned int v, unsigned int l) {
  if (v == mpeg_1)
    return l == layer_1 ? mpeg1_layer1 : l == layer_2 ? mpeg1_layer2 : bitrate_mpeg_layer3;
  return l == layer_1 ? mpeg2_layer1 : mpeg2_layer2_3;
}

}  // namespace

unsigned int mpeg_frame_size(std::uint8_t b1, std::uint8_t b2) {
  const unsigned int v = (b1 >> 3) & 0x03, l = (b1 >> 1) & 0x03;
  const unsigned int index = b2 >> 4, rate_index = (b2 >> 2) & 0x03;
  // MPEG-2.5 is defined for Layer III only.
  if (v == version_reserved || l == layer_reserved || (v == mpeg_2_5 && l != layer_3)) return 0;
  if (index == bitrate_index_none || rate_index == rate_index_reserved) return 0;
  const unsigned int rate = mpeg1_rates[rate_index] >> (v == mpeg_1 ? 0 : v == mpeg_2 ? 1 : 2);
  const unsigned int bits_per_second = bitrates(v, l)[index] * 1000u;
  const unsigned int padding = (b2 & padding_bit) ? 1u : 0u;
  // Bytes per frame: samples per frame / 8 * bitrate / rate, truncated once.
  // Layer I counts in slots of 4 bytes; the padding adds one slot.
  if (l == layer_1) return (12u * bits_per_second / rate + padding) * 4u;
  // Layer III outside MPEG-1 carries 576 samples a frame, not 1152.
  const unsigned int per_frame = (l == layer_3 && v != mpeg_1) ? 72u : 144u;
  return per_frame * bits_per_second / rate + padding;
}

unsigned int mpeg_header_size(const std::uint8_t header[4]) {
  if (header[0] != 0xFF || (header[1] & second_byte_mask) == 0) return 0;
  return mpeg_frame_size(header[1], header[2]);
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
