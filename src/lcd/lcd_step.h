// One step of a display operation, and the one place that turns a step
// into port writes and busy-waits.
//
// A step is one transfer to the controller with its pauses: the byte on
// D0-D7, E pulsed with a register selected, then the control register left
// at a rest value, each part followed by its wait. The operations in
// lcd.cpp are lists of steps; they never write the port themselves.
#pragma once

#include <optional>

#include "lcd/lcd_wiring.h"

namespace lcd_step {

struct display_step {
  // The byte for the data register; none: it still holds the one wanted.
  std::optional<unsigned char> byte = std::nullopt;
  unsigned long after_byte = 0;
  // E low, high, low with this register selected; the controller takes the
  // byte on the falling edge. pulse_wait goes before each edge but the first.
  std::optional<lcd_wiring::register_select> pulse = std::nullopt;
  unsigned long pulse_wait = 0;
  unsigned long after_pulse = 0;
  // Then E low and R/W on read with this register selected, so that nothing
  // the lines do can reach the controller.
  std::optional<lcd_wiring::register_select> rest = std::nullopt;
  unsigned long after_rest = 0;
};

// Writes the step's parts in order at the port base `addr`; a part the step
// lacks is left out, a wait of 0 is none, and a wait is kept when the part
// before it is left out.
void put_step(unsigned int addr, const display_step &step);

// One control-register write, for the sequences that read the controller.
void put_control(unsigned int addr, lcd_wiring::register_select target,
                 lcd_wiring::transfer_direction transfer, lcd_wiring::enable_level enable);

}  // namespace lcd_step
