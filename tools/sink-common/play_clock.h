// The pace of a sound card behind a stand-in player: each piece of the
// stream takes its playing time, and the next piece is taken only once the
// pieces before it have been played. A gap in the stream (a pause) costs
// nothing to make up: the next piece plays from the moment it arrives.
#pragma once

#include <cstdint>

namespace sink {

std::int64_t now_nanoseconds();  // CLOCK_MONOTONIC
// Sleeps until the monotonic clock reaches `deadline` (ns), through signals.
void sleep_until(std::int64_t deadline);

class play_clock {
 public:
  // Sleeps until a piece lasting `nanoseconds`, arrived at `now`, has been
  // played.
  void play(std::int64_t nanoseconds, std::int64_t now);

 private:
  std::int64_t played_until_ = 0;  // monotonic ns at which what came so far has been played
};

}  // namespace sink
