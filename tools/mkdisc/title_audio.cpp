// Silent MPEG-1 Layer III frames, junk between them, and the tags around
// them, laid out byte by byte as a burned MP3 disc would carry them.
#include "mkdisc/title_audio.h"

#include <algorithm>
#include <iterator>
#include <random>
#include <stdexcept>

namespace mkdisc {

namespace {

constexpr unsigned int layer3_bitrates[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                              112, 128, 160, 192, 224, 256, 320};

unsigned int bitrate_index(unsigned int kbps) {
  for (unsigned int i = 1; i < 15; ++i) {
    if (layer3_bitrates[i] == kbps) return i;
  }
  return 0;
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

bool is_layer3_bitrate(unsigned int kbps) { return bitrate_index(kbps) != 0; }

std::vector<std::uint8_t> silent_frame(unsigned int bitrate, bool padded) {
  // Index 0 is free format: no length to write a frame with.
  if (!is_layer3_bitrate(bitrate)) throw std::invalid_argument("no MPEG-1 Layer III bitrate");
  const unsigned int length = layer3_bitrates[bitrate_index(bitrate)] * 144000 / 44100 + padded;
  std::vector<std::uint8_t> frame(length, 0);
  frame[0] = 0xFF;
  frame[1] = 0xFB;  // MPEG-1, Layer III, no CRC
  frame[2] = static_cast<std::uint8_t>(bitrate_index(bitrate) << 4 | (padded ? 0x02 : 0x00));
  frame[3] = 0xC4;  // mono, original
  return frame;
}

std::vector<std::uint8_t> title_bytes(const title_options &options, const title_names &names,
                                      std::uint32_t seed) {
  std::mt19937 random(seed);
  const std::vector<std::uint8_t> plain = silent_frame(options.bitrate, false);
  const std::vector<std::uint8_t> padded = silent_frame(options.bitrate, true);
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
