// The one rule by which the player looks at the first bytes of an MPEG frame:
// whether they start a frame, and how long the frame is. Every title is
// taken as MPEG-1 Layer III at 44 100 Hz. Pure computation: no state, no I/O.
#pragma once

#include <cstdint>

// Bitrates in kbit/s by bitrate index 0 to 14 (index 15 has no entry).
extern const unsigned int bitrate_mpeg_layer3[15];

// The largest frame a ring slot holds; usable lengths are 1 to this.
inline constexpr unsigned int max_frame_length = 2017;

// Frame length in bytes from the third header byte. Index 15 yields a length
// outside 1 to max_frame_length, so every caller rejects it.
unsigned int mpeg_frame_size(std::uint8_t b2);

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
