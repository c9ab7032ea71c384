// The one reading of the monotonic clock, in nanoseconds: every interval the
// player and its emulators measure is a difference of two of these.
#pragma once

#include <time.h>

#include <cstdint>

namespace util {

inline std::int64_t monotonic_ns() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace util
