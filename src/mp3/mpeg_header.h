// The one rule by which the player looks at the first bytes of an MPEG audio
// frame: whether they start a frame, and how long the frame is. The length
// follows the whole header: version (MPEG-1, MPEG-2, MPEG-2.5) and layer from
// byte 1, bitrate, sampling rate and padding from byte 2. Pure computation:
// no state, no I/O.
#pragma once

#include <cstdint>

// MPEG-1 Layer III bitrates in kbit/s by bitrate index 0 to 14 (index 15 has
// no entry).
extern const unsigned int bitrate_mpeg_layer3[15];

// The largest frame a ring slot holds; usable lengths are 1 to this. The
// longest frame any header describes (Layer II, 384 kbit/s, 32 kHz, padded)
// is 1729 bytes.
inline constexpr unsigned int max_frame_length = 2017;

// A frame's header: the bytes a frame takes at least.
inline constexpr unsigned int mpeg_header_bytes = 4;

// Byte 1 of an MPEG-1 Layer III header without CRC.
inline constexpr std::uint8_t mpeg1_layer3_b1 = 0xFB;

// Frame length in bytes from the second and third header bytes. Free format
// (bitrate index 0) gives only the padding slot; a reserved version, layer,
// bitrate index 15 or a reserved sampling rate gives 0, which every caller
// rejects.
unsigned int mpeg_frame_size(std::uint8_t b1, std::uint8_t b2);

// The same for an MPEG-1 Layer III frame at the rate byte 2 gives.
inline unsigned int mpeg_frame_size(std::uint8_t b2) {
  return mpeg_frame_size(mpeg1_layer3_b1, b2);
}

// The start test (byte 0 is 0xFF, byte 1 has a bit of 0xFA) followed by the
// frame length; 0 when the start test fails.
unsigned int mpeg_header_size(const std::uint8_t header[4]);

// The in-stream test on a frame's first two bytes: byte 0 not zero and
// byte 1 has a bit of 0xFA.
bool mpeg_frame_valid(const std::uint8_t frame[2]);

// True when 1 <= length <= max_frame_length.
bool mpeg_frame_length_usable(unsigned int length);

// Most MP3 files start with an ID3v2 tag ("ID3", version, flags, a syncsafe
// size, an optional footer) and only then with their first frame. Given the
// first id3v2_header_length bytes of a file, returns the number of bytes the
// whole tag takes (header, body and footer), so the first frame starts right
// after them; 0 when the bytes are no well-formed ID3v2 header.
inline constexpr unsigned int id3v2_header_length = 10;
unsigned int id3v2_tag_length(const std::uint8_t start[id3v2_header_length]);
