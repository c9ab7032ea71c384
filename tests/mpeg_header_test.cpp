// The frame header rule: frame lengths by bitrate and padding, the start
// and in-stream tests at the edges of their masks, the usable range, and the
// length of a leading ID3v2 tag.
#include "mp3/mpeg_header.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct Length {
  std::uint8_t b2;
  unsigned int expected;
};

TEST(MpegHeader, FrameLengthFollowsBitrateAndPaddingOnly) {
  const Length table[] = {
      {0x00, 0},   {0x02, 1},   {0x10, 104}, {0x12, 105}, {0x50, 208},  {0x52, 209},
      {0x90, 417}, {0x92, 418}, {0xB0, 626}, {0xB2, 627}, {0xE0, 1044}, {0xE2, 1045},
      {0x94, 417}, {0x98, 417}, {0x91, 417}, {0x9D, 417}, {0xE3, 1045},
  };
  for (const Length &row : table) {
    EXPECT_EQ(mpeg_frame_size(row.b2), row.expected) << std::hex << int{row.b2};
  }
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
  EXPECT_EQ(size(0xFF, 0x02, 0x90), 417u);
  EXPECT_EQ(size(0xFF, 0x80, 0x90), 417u);
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
