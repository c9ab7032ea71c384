// The model of the parallel port with the HD44780 on its cable, as a plain
// value: the data and control registers from their power-on values, the
// registers turned into the display's pins by the cable (display_cable.h),
// the controller behind them, what a read of each register returns, and the
// screen as the glass shows it. The emulated port (parallel_port.cpp) keeps
// one in shared memory and adds the platform calls, the log and the
// notices; port-replay feeds one from a trace. Both see the same machine.
//
// It holds no pointers, so it can live in memory several processes share.
#pragma once

#include <cstdint>
#include <string>

#include "emu/glass.h"
#include "emu/hd44780.h"

namespace sim {

// What the display shows: the codes of the cells in view and the
// character-generator RAM their slots draw from. Two screens are the same
// when a person sees the same on the glass (glass.h), which is also the
// text they are read as.
struct screen_contents {
  char codes[2][hd44780::columns];
  character_generator_ram generator_ram;
  glass_rom rom = glass_rom::a00;  // the module's, which the codes are read in

  // Line 1 or 2 as the glass shows it: hd44780::columns cells in UTF-8.
  std::string line(int number) const;
  // One display log line without its newline: "|" line 1 "|" line 2 "|".
  std::string whole() const;
  bool operator==(const screen_contents &other) const;
};

class display_port {
 public:
  // The registers as offsets from the port's base.
  static constexpr unsigned int data_offset = 0;
  static constexpr unsigned int status_offset = 1;
  static constexpr unsigned int control_offset = 2;

  // A PC's port comes up with E low and R/W high: the display idles.
  static constexpr unsigned char power_on_control = 0xC0;
  // Nothing is wired to the status lines: they float high, and the port
  // inverts bit 7 (Busy).
  static constexpr unsigned char idle_status = 0x7F;

  explicit display_port(glass_rom rom = glass_rom::a00) : rom_(rom) { power_on(0); }

  // The port's registers and the controller as they come up, the pins
  // driven from those registers at `now_nanoseconds`.
  void power_on(std::int64_t now_nanoseconds);

  // A write to the register at `offset`; false, and nothing changes, for a
  // register the display does not hang on (status, or beyond the port).
  bool write(unsigned int offset, unsigned char value, std::int64_t now_nanoseconds);

  // What a read of the register at `offset` returns; 0xFF beyond the port,
  // as an empty I/O address reads.
  unsigned char read(unsigned int offset, std::int64_t now_nanoseconds) const;

  screen_contents screen() const;
  const hd44780 &controller() const { return controller_; }

 private:
  void drive(std::int64_t now_nanoseconds);

  glass_rom rom_;
  hd44780 controller_;
  unsigned char data_register_ = 0;
  unsigned char control_register_ = power_on_control;
};

}  // namespace sim
