// The display's steps as register writes: the data register, the control
// register's values from the wiring, and the busy-waits between.
#include "lcd/lcd_step.h"

#include "lcd/delay.h"
#include "lcd/port_access.h"

namespace lcd_step {

namespace {

using lcd_wiring::enable_level;
using lcd_wiring::transfer_direction;

void wait(unsigned long count) {
  if (count != 0) udelay_sub(count);
}

}  // namespace

void put_control(unsigned int addr, lcd_wiring::register_select target, transfer_direction transfer,
                 enable_level enable) {
  port_access::write_control(addr, lcd_wiring::control_value(target, transfer, enable));
}

void put_step(unsigned int addr, const display_step &step) {
  if (step.byte) port_access::write_data(addr, *step.byte);
  wait(step.after_byte);
  if (step.pulse) {
    put_control(addr, *step.pulse, transfer_direction::write, enable_level::low);
    wait(step.pulse_wait);
    put_control(addr, *step.pulse, transfer_direction::write, enable_level::high);
    wait(step.pulse_wait);
    put_control(addr, *step.pulse, transfer_direction::write, enable_level::low);
  }
  wait(step.after_pulse);
  if (step.rest) put_control(addr, *step.rest, transfer_direction::read, enable_level::low);
  wait(step.after_rest);
}

}  // namespace lcd_step
