// How closely the display's busy-waits hold their durations on this machine:
// for each wait count the driver uses, the median measured duration of
// udelay_sub() over many calls divided by the duration the count must
// last, all measured in one run. A ratio below 1 would be a fault (the
// controller would miss bytes); how far above 1 is what a wait costs.
// The cost of reading the clock, which every measurement includes, is
// measured in the same run and shown for reference.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "lcd/delay.h"
#include "lcd/lcd_timing.h"

namespace {

std::int64_t now_nanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

template <class Work>
double median_nanoseconds(int repetitions, Work work) {
  std::vector<std::int64_t> samples(repetitions);
  for (auto &sample : samples) {
    const std::int64_t start = now_nanoseconds();
    work();
    sample = now_nanoseconds() - start;
  }
  std::nth_element(samples.begin(), samples.begin() + repetitions / 2, samples.end());
  return double(samples[repetitions / 2]);
}

// About a fifth of a second of waiting per count, and never too few samples.
int repetitions_for(std::uint64_t nanoseconds) {
  const std::uint64_t budget = 200000000;
  return int(std::clamp<std::uint64_t>(budget / std::max<std::uint64_t>(nanoseconds, 1), 51, 2001));
}

}  // namespace

int main() {
  const double clock_cost = median_nanoseconds(10001, [] {});
  std::printf("clock read pair (reference): %.0f ns\n\n", clock_cost);
  std::printf("%10s  %14s  %14s  %8s\n", "count", "required (us)", "median (us)", "ratio");
  for (unsigned long count : lcd_timing::all_waits) {
    const std::uint64_t required = udelay_sub_nanoseconds(count);
    const double median = median_nanoseconds(repetitions_for(required), [=] { udelay_sub(count); });
    std::printf("%10lu  %14.3f  %14.3f  %8.4f\n", count, required / 1000.0, median / 1000.0,
                median / double(required));
  }
  return 0;
}
