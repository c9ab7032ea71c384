// The display's busy-waits: how long each count lasts, that a wait lasts at
// least that long, and that it never gives up the processor. Only lower
// bounds are checked: the machine is shared, so a wait may run long.
#include "lcd/delay.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdint>

namespace {

std::int64_t now_nanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

template <class Wait>
std::int64_t elapsed(Wait wait) {
  const std::int64_t start = now_nanoseconds();
  wait();
  return now_nanoseconds() - start;
}

TEST(DelayTest, ACountLastsCountOver2To32SecondsRoundedUp) {
  EXPECT_EQ(udelay_sub_nanoseconds(0), 0u);
  EXPECT_EQ(udelay_sub_nanoseconds(1), 1u);
  EXPECT_EQ(udelay_sub_nanoseconds(5000), 1165u);        // 1.164 us
  EXPECT_EQ(udelay_sub_nanoseconds(400000), 93133u);     // 93.13 us
  EXPECT_EQ(udelay_sub_nanoseconds(500000), 116416u);    // 116.4 us
  EXPECT_EQ(udelay_sub_nanoseconds(1000000), 232831u);   // 232.8 us, one unit of mdelay
  EXPECT_EQ(udelay_sub_nanoseconds(4500000), 1047738u);  // 1.048 ms
  EXPECT_GE(udelay_sub_nanoseconds(7043747), 1640000u);  // after clear and return home
  EXPECT_EQ(udelay_sub_nanoseconds(0xFFFFFFFFul), 1000000000u);
  // Counts are 32-bit: higher bits do not count.
  EXPECT_EQ(udelay_sub_nanoseconds((1ul << 32) + 5000), 1165u);
}

TEST(DelayTest, WaitsLastAtLeastTheirDuration) {
  for (unsigned long count : {5000ul, 400000ul, 4500000ul, 7043747ul}) {
    EXPECT_GE(elapsed([=] { udelay_sub(count); }), std::int64_t(udelay_sub_nanoseconds(count)))
        << "udelay_sub(" << count << ")";
  }
  EXPECT_GE(elapsed([] { udelay(400); }), std::int64_t(udelay_sub_nanoseconds(400000)));
  EXPECT_GE(elapsed([] { mdelay(3); }), 3 * std::int64_t(udelay_sub_nanoseconds(1000000)));
}

TEST(DelayTest, AWaitNeverGivesUpTheProcessor) {
  rusage before, after;
  getrusage(RUSAGE_THREAD, &before);
  mdelay(20);  // 4.7 ms
  getrusage(RUSAGE_THREAD, &after);
  EXPECT_EQ(after.ru_nvcsw, before.ru_nvcsw) << "voluntary context switches";
}

}  // namespace
