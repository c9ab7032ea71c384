// The stand-in players' pacing (play_clock.h).
#include "play_clock.h"

#include <time.h>

#include "util/clock.h"

namespace sink {

void sleep_until(std::int64_t deadline) {
  timespec until{static_cast<time_t>(deadline / 1000000000),
                 static_cast<long>(deadline % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
  }
}

std::int64_t now_nanoseconds() { return util::monotonic_ns(); }

void play_clock::play(std::int64_t nanoseconds, std::int64_t now) {
  if (played_until_ < now) played_until_ = now;
  played_until_ += nanoseconds;
  sleep_until(played_until_);
}

}  // namespace sink
