// Busy-waits that pace the display.
//
// A wait count ("xloops") lasts xloops / 2^32 seconds, the convention of the
// machine the display timing was first set for. The wait is a busy-wait on
// the monotonic clock: it never sleeps or yields, and on any processor it
// lasts at least the count's duration. Counts are 32-bit, as they were on
// that machine: only the low 32 bits of xloops count, so one call waits
// less than a second.
#pragma once

#include <cstdint>

void udelay_sub(unsigned long xloops);
void udelay(unsigned long i);  // udelay_sub(1000 * i), 1000 * i taken in 32 bits
void mdelay(unsigned long i);  // udelay(1000), i times

// The duration, in nanoseconds (rounded up), that udelay_sub(xloops) waits.
std::uint64_t udelay_sub_nanoseconds(unsigned long xloops);
