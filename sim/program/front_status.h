// The simulator's own lines under the display panel: what a person at the
// box would see on the drive's front and hear from the decoder, and the
// meanings of the keys in the mode that runs. They are worked out from the
// emulators' state, never from what the player wrote on the display.
#pragma once

#include <string>

#include "emu/drive.h"

namespace sim {

enum class player_mode { none, audio, mp3 };

// The mode the player is in, as the drive shows it: a mounted data disc is
// the MP3 mode, an audio CD that the drive was asked to play the audio mode.
player_mode running_mode(const drive_snapshot &drive);

// "Drive: tray closed, audio CD of 3 tracks, track 2 00:07 playing".
std::string drive_front_line(const drive_snapshot &drive);

// What the decoder is fed in the MP3 mode: the title being read (its path on
// the disc) and how many of its frames went into the pipeline.
struct decoder_feed {
  std::string title;  // empty: no title is open
  int frames_sent = 0;
  int frames_in_title = 0;
};

// "Decoder gets: Artist/Album/Title.mp3, frame 120 of 300".
std::string decoder_line(const decoder_feed &feed);

// The keys and their meanings in `mode`.
const char *key_help(player_mode mode);

}  // namespace sim
