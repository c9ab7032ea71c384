// The busy-wait counts that pace the display, in udelay_sub() units
// (xloops: one count lasts 1/2^32 s). Shared by the driver and by the
// benchmark that measures how closely the waits hold these durations.
#pragma once

namespace lcd_timing {

// Between the steps of most instructions: 1.164 us.
inline constexpr unsigned long step_wait = 5000;
// Between the steps of a character and of a clear: 93.13 us.
inline constexpr unsigned long character_wait = 400000;
// Between the steps of a display-memory address: 116.4 us.
inline constexpr unsigned long address_wait = 500000;
// After each function set during initialisation: 1.048 ms.
inline constexpr unsigned long function_set_wait = 4500000;
// After clear display and return home: 1.64 ms, the longest execution time
// HD44780 datasheets give for them (1.52 ms at 270 kHz, 1.64 ms at 250 kHz).
// Anything shorter loses the characters written next on a slow controller.
inline constexpr unsigned long clear_home_wait = 7043747;

inline constexpr unsigned long all_waits[] = {step_wait, character_wait, address_wait,
                                              function_set_wait, clear_home_wait};

}  // namespace lcd_timing
