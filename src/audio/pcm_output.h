// The PCM player: an external program that plays raw CD audio (16-bit
// little-endian stereo at 44 100 Hz) from its standard input on ALSA's
// default device, so that systems with PulseAudio or PipeWire play through
// their ALSA plugin, or on the device SOUND_DEVICE names (`-D DEVICE`). Digital playback of audio
// CDs writes into it.
//
// One object owns one process and the write end of its pipe. The pipe is
// kept small, so that little audio waits between the drive and the player.
#pragma once

#include <sys/types.h>

#include "util/child_process.h"
#include "util/unique_fd.h"

// The player's own buffer, in microseconds: its "--buffer-time" argument.
inline constexpr char pcm_player_buffer_microseconds[] = "150000";

class pcm_output {
 public:
  pcm_output() = default;
  ~pcm_output();  // ends the player
  pcm_output(const pcm_output &) = delete;
  pcm_output &operator=(const pcm_output &) = delete;

  // Starts the player on a fresh pipe. 1 when the process was started, 0
  // when no pipe or process could be made. A player that cannot be
  // executed ends at once; the writer then sees its pipe broken.
  int start();
  // SIGTERM, SIGKILL when it is still there a second later, reaped; the
  // pipe is closed. Does nothing when no player runs. Returns why the player
  // could not be executed (an errno value), or 0 when it was.
  int end();

  bool running() const { return player_.running(); }
  // The write end, non-blocking.
  int input() const { return input_.get(); }

 private:
  util::child_process player_;
  util::unique_fd input_;
};
