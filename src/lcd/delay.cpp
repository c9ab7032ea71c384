// The display's busy-waits. They spin on the monotonic clock rather than
// count loop iterations, so that a count lasts the same on any processor,
// and they never sleep: the display is paced in microseconds, far below
// what the scheduler can promise.
#include "lcd/delay.h"

#include "util/clock.h"

namespace {

// Tells the processor that this is a spin, without giving it up.
inline void spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

std::uint64_t udelay_sub_nanoseconds(unsigned long xloops) {
  const std::uint64_t count = std::uint32_t(xloops);
  constexpr std::uint64_t count_per_second = std::uint64_t{1} << 32;
  // count < 2^32, so the product stays below 2^62.
  return (count * 1000000000u + count_per_second - 1) / count_per_second;
}

void udelay_sub(unsigned long xloops) {
  // Below 2^30 ns: the sum stays far inside the signed range.
  const std::int64_t deadline =
      util::monotonic_ns() + static_cast<std::int64_t>(udelay_sub_nanoseconds(xloops));
  while (util::monotonic_ns() < deadline) spin_pause();
}

void udelay(unsigned long i) { udelay_sub(std::uint32_t(1000u * std::uint32_t(i))); }

void mdelay(unsigned long i) {
  for (unsigned long j = 0; j < i; ++j) udelay(1000);
}
