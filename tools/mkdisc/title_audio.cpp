// Silent MPEG audio frames, junk between them, and the tags around them,
// laid out byte by byte as a burned MP3 disc would carry them. The tables
// here are mkdisc's own, from ISO/IEC 11172-3 and 13818-3, so that a test of
// the player's header rule does not check the rule against itself.
#include "mkdisc/title_audio.h"

#include <algorithm>
#include <iterator>
#include <random>
#include <stdexcept>

namespace mkdisc {

namespace {

// kbit/s by bitrate index; [MPEG-1 or not][layer - 1].
constexpr unsigned int bitrate_tables[2][3][15] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
};

// Hz by sampling-rate index, for each version.
constexpr unsigned int sample_rates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

unsigned int version_number(mpeg_version version) { return static_cast<unsigned int>(version); }

const unsigned int *bitrate_table(const frame_format &format) {
  const bool mpeg_1 = format.version == mpeg_version::mpeg_1;
  return bitrate_tables[mpeg_1 ? 1 : 0][format.layer - 1];
}

// 0 when the table has no such bitrate (index 0, free format, is none).
unsigned int bitrate_index(const frame_format &format) {
  if (format.layer < 1 || format.layer > 3) return 0;
  for (unsigned int i = 1; i < 15; ++i) {
    if (bitrate_table(format)[i] == format.bitrate) return i;
  }
  return 0;
}

// 3 (reserved) when the version has no such rate.
unsigned int rate_index(const frame_format &format) {
  unsigned int i = 0;
  while (i < 3 && sample_rates[version_number(format.version)][i] != format.sample_rate) ++i;
  return i;
}

frame_format layer3_at_44100(unsigned int bitrate) {
  frame_format format;
  format.bitrate = bitrate;
  return format;
}

void append_text(std::vector<std::uint8_t> &out, const std::string &text, std::size_t field) {
  for (std::size_t i = 0; i < field; ++i) out.push_back(i < text.size() ? text[i] : 0);
}

// ID3v1: "TAG", title, artist, album, year, comment, genre.
void append_tag_block(std::vector<std::uint8_t> &out, const title_names &names) {
  out.insert(out.end(), {'T', 'A', 'G'});
  append_text(out, names.title, 30);
  append_text(out, names.artist, 30);
  append_text(out, names.album, 30);
  append_text(out, "2001", 4);
  append_text(out, "made by mkdisc", 30);
  out.push_back(12);  // genre "Other"
}

void append_syncsafe(std::vector<std::uint8_t> &out, std::uint32_t value) {
  for (int shift = 21; shift >= 0; shift -= 7) out.push_back((value >> shift) & 0x7F);
}

// A text frame of ID3v2.3 or .4; the texts are short enough that the plain
// (.3) and syncsafe (.4) size encodings are the same bytes.
void append_text_frame(std::vector<std::uint8_t> &out, const char *id, const std::string &text) {
  const std::string body = text.substr(0, 100);
  out.insert(out.end(), id, id + 4);
  append_syncsafe(out, body.size() + 1);
  out.insert(out.end(), {0, 0, 0});  // flags, then text encoding ISO-8859-1
  out.insert(out.end(), body.begin(), body.end());
}

void append_id3v2(std::vector<std::uint8_t> &out, const title_options &options,
                  const title_names &names) {
  std::vector<std::uint8_t> body;
  append_text_frame(body, "TIT2", names.title);
  append_text_frame(body, "TPE1", names.artist);
  append_text_frame(body, "TALB", names.album);
  const std::uint8_t version = options.id3v2_footer ? 4 : 3;
  const std::uint8_t flags = options.id3v2_footer ? 0x10 : 0x00;
  if (!options.id3v2_footer) body.insert(body.end(), options.id3v2_padding, 0);
  out.insert(out.end(), {'I', 'D', '3', version, 0, flags});
  append_syncsafe(out, body.size());
  out.insert(out.end(), body.begin(), body.end());
  if (options.id3v2_footer) {
    out.insert(out.end(), {'3', 'D', 'I', version, 0, flags});
    append_syncsafe(out, body.size());
  }
}

void append_insertions(std::vector<std::uint8_t> &out, const title_options &options,
                       unsigned int after_frame, std::mt19937 &random) {
  for (const insertion &gap : options.insertions) {
    if (gap.after_frame != after_frame) continue;
    for (unsigned int i = 0; i < gap.bytes; ++i) {
      out.push_back(gap.zeros ? 0 : static_cast<std::uint8_t>(random() % 0xFF));
    }
  }
}

}  // namespace

bool is_layer3_bitrate(unsigned int kbps) { return bitrate_index(layer3_at_44100(kbps)) != 0; }

bool is_valid_format(const frame_format &format, std::string &error) {
  if (format.layer < 1 || format.layer > 3) {
    error = "no such layer";
  } else if (format.version == mpeg_version::mpeg_2_5 && format.layer != 3) {
    error = "MPEG-2.5 has only Layer III";
  } else if (rate_index(format) == 3) {
    error = "no such sampling rate in this MPEG version";
  } else if (bitrate_index(format) == 0) {
    // Index 0 is free format: no length to write a frame with.
    error = "no such bitrate in this MPEG version and layer";
  } else {
    return true;
  }
  return false;
}

unsigned int frame_length(const frame_format &format, bool padded) {
  const unsigned int bits = format.bitrate * 1000;
  if (format.layer == 1) return (12 * bits / format.sample_rate + padded) * 4;
  const bool half_frame = format.layer == 3 && format.version != mpeg_version::mpeg_1;
  return (half_frame ? 72 : 144) * bits / format.sample_rate + padded;
}

std::vector<std::uint8_t> silent_frame(const frame_format &format, bool padded) {
  std::string error;
  if (!is_valid_format(format, error)) throw std::invalid_argument(error);
  constexpr std::uint8_t version_bits[3] = {0x18, 0x10, 0x00};  // MPEG-1, MPEG-2, MPEG-2.5
  std::vector<std::uint8_t> frame(frame_length(format, padded), 0);
  frame[0] = 0xFF;
  // Sync, version, layer (Layer I is 11, Layer III 01), no CRC.
  frame[1] = static_cast<std::uint8_t>(0xE0 | version_bits[version_number(format.version)] |
                                       (4 - format.layer) << 1 | 0x01);
  frame[2] = static_cast<std::uint8_t>(bitrate_index(format) << 4 | rate_index(format) << 2 |
                                       (padded ? 0x02 : 0x00));
  frame[3] = 0xC4;  // mono, original
  return frame;
}

bool read_frame_format(const std::uint8_t header[4], frame_format &format, bool &padded) {
  if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0) return false;
  constexpr int versions[4] = {2, -1, 1, 0};  // by bits 4 and 3: 2.5, reserved, 2, 1
  const int version = versions[(header[1] >> 3) & 0x03];
  const unsigned int layer = 4 - ((header[1] >> 1) & 0x03);
  const unsigned int bitrate = header[2] >> 4, rate = (header[2] >> 2) & 0x03;
  if (version < 0 || layer == 4 || bitrate == 0 || bitrate == 15 || rate == 3) return false;
  format.version = static_cast<mpeg_version>(version);
  format.layer = layer;
  format.sample_rate = sample_rates[version][rate];
  format.bitrate = bitrate_table(format)[bitrate];
  padded = (header[2] & 0x02) != 0;
  std::string error;
  return is_valid_format(format, error);
}

std::vector<std::uint8_t> silent_frame(unsigned int bitrate, bool padded) {
  return silent_frame(layer3_at_44100(bitrate), padded);
}

std::vector<std::uint8_t> tagged_title(const std::vector<std::uint8_t> &frames,
                                       const title_options &options, const title_names &names) {
  std::vector<std::uint8_t> out;
  if (options.id3v2) append_id3v2(out, options, names);
  out.insert(out.end(), frames.begin(), frames.end());
  if (options.tag) append_tag_block(out, names);
  return out;
}

std::vector<std::uint8_t> title_bytes(const title_options &options, const title_names &names,
                                      std::uint32_t seed) {
  std::mt19937 random(seed);
  const std::vector<std::uint8_t> plain = silent_frame(options, false);
  const std::vector<std::uint8_t> padded = silent_frame(options, true);
  std::vector<std::uint8_t> out;
  out.reserve((plain.size() + 1) * (options.frames + 1) + 256);
  if (options.id3v2) append_id3v2(out, options, names);
  append_insertions(out, options, 0, random);
  for (unsigned int i = 0; i < options.frames; ++i) {
    const bool pad = options.padding == padding_pattern::alternating && i % 2 == 1;
    const std::vector<std::uint8_t> &frame = pad ? padded : plain;
    out.insert(out.end(), frame.begin(), frame.end());
    if (options.stamp != 0) {
      const std::uint8_t stamp[] = {'S', static_cast<std::uint8_t>(options.stamp),
                                    static_cast<std::uint8_t>(i >> 8),
                                    static_cast<std::uint8_t>(i)};
      std::copy(std::begin(stamp), std::end(stamp), out.end() - sizeof stamp);
    }
    append_insertions(out, options, i + 1, random);
  }
  const std::size_t tail = std::min<std::size_t>(options.partial_tail, plain.size() - 1);
  out.insert(out.end(), plain.begin(), plain.begin() + tail);
  if (options.tag) append_tag_block(out, names);
  return out;
}

}  // namespace mkdisc
