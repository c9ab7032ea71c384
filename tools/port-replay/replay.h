// Replaying a machine's writes to the parallel port into the emulated
// HD44780, to see what the display on the cable showed and whether any byte
// reached the controller while it was still busy (and so was lost).
//
// The writes come from qemu's trace of the emulated port
// (-trace parallel_ioport_write with -msg timestamp=on): one line a write,
// "PID@SECONDS.MICROSECONDS:parallel_ioport_write write [SW] addr 0x02 val
// 0xcc", the address relative to the port's base. The time stamp is the
// host's wall clock when qemu carried the write out, in microseconds. Without
// KVM the guest's clock runs off the host's, so the gaps between the guest's
// writes show on that clock as long as the guest waited them; an emulator
// that stalls only makes gaps longer, never shorter.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "emu/display_port.h"

namespace port_replay {

struct traced_write {
  std::int64_t time_nanoseconds = 0;
  unsigned int offset = 0;  // from the port's base: 0 data, 2 control
  unsigned int value = 0;
};

// Writes to this offset mark the start of a test step (the value is the
// step's number); the emulated port ignores them.
inline constexpr unsigned int mark_offset = 7;

enum class line_kind { write, untimed_write, other };

// Reads one trace line; `write` is set for line_kind::write only.
line_kind parse_trace_line(const std::string &line, traced_write &write);

// Feeds writes into a display that starts at power-on, and prints to `out`:
//   "@@ step N"        for a mark
//   "|line 1|line 2|"  whenever what the display shows changes
//   "!! busy LINE"     for a byte that reached the controller while it was
//                      busy (LINE: the number given with the write)
class replay {
 public:
  // `rom`: the character ROM of the module whose glass is read.
  explicit replay(std::ostream &out, sim::glass_rom rom = sim::glass_rom::a00);
  void feed(const traced_write &write, long line_number);
  std::uint64_t busy_violations() const { return port_.controller().busy_violations(); }

 private:
  std::ostream &out_;
  sim::display_port port_;  // at power-on, driven at time 0
  sim::screen_contents last_shown_;
};

}  // namespace port_replay
