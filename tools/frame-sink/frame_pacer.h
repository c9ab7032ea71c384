// The pace of a player: every MPEG-1 Layer III frame at 44 100 Hz lasts
// 1152 samples, and a player takes the next frame only when the one before
// has been played. Bytes that start no frame (a decoder resynchronises over
// them) take no time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "play_clock.h"

class frame_pacer {
 public:
  // `speed` > 1 plays faster than real time; 0 turns pacing off.
  explicit frame_pacer(double speed);

  // Takes the next received bytes; sleeps until every frame completed by
  // them has been played.
  void take(const std::uint8_t *bytes, std::size_t count);

  std::uint64_t frames() const { return frames_; }

 private:
  void frame_complete();

  double frame_nanoseconds_;
  sink::play_clock clock_;
  std::uint8_t header_[3] = {};
  std::size_t header_bytes_ = 0;  // of the frame being parsed
  std::size_t frame_left_ = 0;    // bytes of the current frame still to come
  std::uint64_t frames_ = 0;
};

// The length of the frame that `header` (three bytes) starts, or 0 when it
// starts none: no sync, a reserved layer, or a bitrate without a length.
std::size_t frame_length(const std::uint8_t header[3]);
