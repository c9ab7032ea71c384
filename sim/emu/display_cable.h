// The cable between the parallel port and the HD44780: which register bit
// drives which display pin, and which lines the port inverts. The model of
// the port (display_port.h), which the emulated port and the replay of a
// real machine's port writes (tools/port-replay) both run, turns register
// values into pin levels here, so the wiring is named once, apart from the
// driver's own description of it: a wrong bit in the driver then shows up
// as a wrong display rather than being mirrored.
#pragma once

#include "emu/hd44780.h"

namespace sim {

// The port hardware inverts control bits 0 (nStrobe), 1 (nAutoFeed) and 3
// (nSelectIn) between the register and the pins.
inline constexpr unsigned char inverted_control_bits = 0x0B;
// The cable: pin 1 carries R/W, pin 16 E and pin 17 RS (as pin levels).
inline constexpr unsigned char read_write_pin = 0x01;
inline constexpr unsigned char enable_pin = 0x04;
inline constexpr unsigned char register_select_pin = 0x08;
inline constexpr unsigned char direction_bit = 0x20;  // set: the port stops driving D0-D7
inline constexpr unsigned char floating_lines = 0xFF;

inline hd44780_pins display_pins(unsigned char data_register, unsigned char control_register) {
  const unsigned char levels = control_register ^ inverted_control_bits;
  hd44780_pins pins;
  pins.read = levels & read_write_pin;
  pins.enable = levels & enable_pin;
  pins.register_select_data = levels & register_select_pin;
  pins.data = (control_register & direction_bit) ? floating_lines : data_register;
  return pins;
}

}  // namespace sim
