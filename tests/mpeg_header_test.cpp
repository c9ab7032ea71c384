// The frame header rule: frame lengths by version, layer, bitrate, rate and
// padding, the start and in-stream tests at the edges of their masks, the
// usable range, and the length of a leading ID3v2 tag.
#include "mp3/mpeg_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "mkdisc/title_audio.h"

namespace {

struct length_row {
  std::uint8_t b2;
  unsigned int expected;
};

TEST(MpegHeader, Mpeg1Layer3At44100FollowsBitrateAndPadding) {
  const length_row table[] = {
      {0x00, 0},   {0x02, 1},   {0x10, 104}, {0x12, 105},  {0x50, 208},  {0x52, 209}, {0x90, 417},
      {0x92, 418}, {0xB0, 626}, {0xB2, 627}, {0xE0, 1044}, {0xE2, 1045}, {0x91, 417}, {0xE3, 1045},
  };
  for (const length_row &row : table) {
    EXPECT_EQ(mpeg_frame_size(row.b2), row.expected) << std::hex << int{row.b2};
    EXPECT_EQ(mpeg_frame_size(0xFB, row.b2), row.expected) << std::hex << int{row.b2};
    EXPECT_EQ(mpeg_frame_size(0xFA, row.b2), row.expected) << "the CRC bit changes nothing";
  }
}

struct header_row {
  std::uint8_t b1, b2;
  unsigned int expected;
  const char *what;
};

TEST(MpegHeader, LengthFollowsVersionLayerAndRate) {
  const header_row table[] = {
      {0xFB, 0x94, 384, "MPEG-1 Layer III 48 kHz 128"},
      {0xFB, 0x98, 576, "MPEG-1 Layer III 32 kHz 128"},
      {0xF3, 0x80, 208, "MPEG-2 Layer III 22.05 kHz 64"},
      {0xF3, 0x84, 192, "MPEG-2 Layer III 24 kHz 64"},
      {0xF3, 0x86, 193, "MPEG-2 Layer III 24 kHz 64 padded"},
      {0xF3, 0x88, 288, "MPEG-2 Layer III 16 kHz 64"},
      {0xE3, 0x80, 417, "MPEG-2.5 Layer III 11.025 kHz 64"},
      {0xE3, 0x18, 72, "MPEG-2.5 Layer III 8 kHz 8"},
      {0xFD, 0xA0, 626, "MPEG-1 Layer II 44.1 kHz 192"},
      {0xFD, 0xEA, 1729, "MPEG-1 Layer II 32 kHz 384 padded: the longest there is"},
      {0xFF, 0x90, 78 * 4, "MPEG-1 Layer I 44.1 kHz 288"},
      {0xFF, 0x92, 79 * 4, "MPEG-1 Layer I padded by a four-byte slot"},
      {0xF5, 0xEA, 1441, "MPEG-2 Layer II 16 kHz 160 padded"},
      {0xF7, 0xE8, 768, "MPEG-2 Layer I 16 kHz 256"},
      {0xFF, 0x02, 4, "free format Layer I: the padding slot only"},
  };
  for (const header_row &row : table) {
    EXPECT_EQ(mpeg_frame_size(row.b1, row.b2), row.expected) << row.what;
    const std::uint8_t header[4] = {0xFF, row.b1, row.b2, 0xC4};
    EXPECT_EQ(mpeg_header_size(header), row.expected) << row.what;
  }
}

TEST(MpegHeader, ReservedFieldsGiveNoUsableLength) {
  const header_row table[] = {
      {0xEB, 0x90, 0, "version 01 is reserved"},       {0xF9, 0x90, 0, "layer 00 is reserved"},
      {0xFB, 0x9C, 0, "sampling rate 11 is reserved"}, {0xFB, 0x9E, 0, "sampling rate 11, padded"},
      {0xE5, 0x90, 0, "MPEG-2.5 has no Layer II"},     {0xE7, 0x90, 0, "MPEG-2.5 has no Layer I"},
  };
  for (const header_row &row : table) {
    EXPECT_FALSE(mpeg_frame_length_usable(mpeg_frame_size(row.b1, row.b2))) << row.what;
  }
}

// mkdisc sizes its frames with tables of its own; both must agree on every
// format there is, and every length must fit a slot.
TEST(MpegHeader, AgreesWithTheDiscGeneratorOnEveryFormat) {
  using mkdisc::mpeg_version;
  int formats = 0;
  for (mpeg_version version :
       {mpeg_version::mpeg_1, mpeg_version::mpeg_2, mpeg_version::mpeg_2_5}) {
    const unsigned int rates[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    for (unsigned int layer = 1; layer <= 3; ++layer) {
      for (unsigned int rate : rates[static_cast<int>(version)]) {
        for (unsigned int kbps = 8; kbps <= 448; kbps += 8) {
          mkdisc::frame_format format{version, layer, rate, kbps};
          std::string error;
          if (!mkdisc::is_valid_format(format, error)) continue;
          for (bool padded : {false, true}) {
            const std::vector<std::uint8_t> frame = mkdisc::silent_frame(format, padded);
            EXPECT_EQ(mpeg_header_size(frame.data()), frame.size())
                << static_cast<int>(version) << " " << layer << " " << rate << " " << kbps;
            EXPECT_LE(frame.size(), 1729u);
          }
          ++formats;
        }
      }
    }
  }
  // 14 bitrates for each layer and rate of MPEG-1 and MPEG-2, and for the
  // rates of MPEG-2.5 Layer III.
  EXPECT_EQ(formats, 14 * (3 * 3 + 3 * 3 + 3));
}

TEST(MpegHeader, BitrateIndexFifteenIsNeverUsable) {
  for (std::uint8_t low = 0; low < 16; ++low) {
    const unsigned int length = mpeg_frame_size(0xF0 | low);
    EXPECT_FALSE(mpeg_frame_length_usable(length)) << int{low};
    const std::uint8_t header[4] = {0xFF, 0xFB, static_cast<std::uint8_t>(0xF0 | low), 0};
    EXPECT_FALSE(mpeg_frame_length_usable(mpeg_header_size(header)));
  }
}

TEST(MpegHeader, StartTestWantsFFAndABitOfTheMask) {
  auto size = [](std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    const std::uint8_t header[4] = {b0, b1, b2, 0x00};
    return mpeg_header_size(header);
  };
  EXPECT_EQ(size(0xFF, 0xFB, 0x90), 417u);
  // 0x02: MPEG-2.5 Layer III, 80 kbit/s at 11 025 Hz.
  EXPECT_EQ(size(0xFF, 0x02, 0x90), 522u);
  // 0x80 passes, but its layer is reserved.
  EXPECT_EQ(size(0xFF, 0x80, 0x90), 0u);
  EXPECT_EQ(size(0xFF, 0x82, 0x90), 522u);
  EXPECT_EQ(size(0xFF, 0x01, 0x90), 0u);
  EXPECT_EQ(size(0xFF, 0x04, 0x90), 0u);
  EXPECT_EQ(size(0xFF, 0x05, 0x90), 0u);
  EXPECT_EQ(size(0xFF, 0x00, 0x90), 0u);
  EXPECT_EQ(size(0x7F, 0xFB, 0x90), 0u);
  EXPECT_EQ(size(0xFE, 0xFB, 0x90), 0u);
}

TEST(MpegHeader, InStreamTestOnlyWantsANonZeroFirstByte) {
  auto valid = [](std::uint8_t b0, std::uint8_t b1) {
    const std::uint8_t frame[2] = {b0, b1};
    return mpeg_frame_valid(frame);
  };
  EXPECT_TRUE(valid(0xFF, 0xFB));
  EXPECT_TRUE(valid(0x7F, 0xFB));
  EXPECT_TRUE(valid('T', 'A'));  // a trailing tag block passes; the reader spots it itself
  EXPECT_TRUE(valid(0x01, 0x02));
  EXPECT_FALSE(valid(0x00, 0xFB));
  EXPECT_FALSE(valid(0xFF, 0x05));
}

TEST(MpegHeader, UsableLengthsAreOneTo2017) {
  EXPECT_FALSE(mpeg_frame_length_usable(0));
  EXPECT_TRUE(mpeg_frame_length_usable(1));
  EXPECT_TRUE(mpeg_frame_length_usable(max_frame_length));
  EXPECT_FALSE(mpeg_frame_length_usable(max_frame_length + 1));
  EXPECT_FALSE(mpeg_frame_length_usable(0xFFFFFFFFu));
}

TEST(MpegHeader, Id3v2TagLengthCoversHeaderBodyAndFooter) {
  const std::uint8_t v3[10] = {'I', 'D', '3', 3, 0, 0x00, 0x00, 0x00, 0x02, 0x01};
  EXPECT_EQ(id3v2_tag_length(v3), 10u + 257u);
  const std::uint8_t v4_footer[10] = {'I', 'D', '3', 4, 0, 0x10, 0x7F, 0x7F, 0x7F, 0x7F};
  EXPECT_EQ(id3v2_tag_length(v4_footer), 10u + 0x0FFFFFFFu + 10u);
  // Before version 4 the footer flag means nothing.
  const std::uint8_t v3_flag[10] = {'I', 'D', '3', 3, 0, 0x10, 0, 0, 0, 5};
  EXPECT_EQ(id3v2_tag_length(v3_flag), 15u);

  const std::uint8_t not_syncsafe[10] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x80, 0};
  const std::uint8_t bad_version[10] = {'I', 'D', '3', 0xFF, 0, 0, 0, 0, 0, 1};
  const std::uint8_t bad_revision[10] = {'I', 'D', '3', 3, 0xFF, 0, 0, 0, 0, 1};
  const std::uint8_t not_id3[10] = {'I', 'D', '4', 3, 0, 0, 0, 0, 0, 1};
  const std::uint8_t frame[10] = {0xFF, 0xFB, 0x90, 0xC4};
  for (const std::uint8_t *start : {not_syncsafe, bad_version, bad_revision, not_id3, frame}) {
    EXPECT_EQ(id3v2_tag_length(start), 0u);
  }
}

}  // namespace
