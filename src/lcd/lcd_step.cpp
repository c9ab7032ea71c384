// The display's steps as register writes: the data register, the control
// register's values from the wiring, and the busy-waits between.
#include "lcd/lcd_step.h"

#include "lcd/delay.h"
#include "lcd/port_access.h"

namespace lcd_step {

namespace {

using lcd_wiring::Enable;
using lcd_wiring::Transfer;

void wait(unsigned long count) {
  if (count != 0) udelay_sub(count);
}

}  // namespace

void put_control(unsigned int addr, lcd_wiring::Register target, Transfer transfer, Enable enable) {
  port_access::write_control(addr, lcd_wiring::control_value(target, transfer, enable));
}

void put_step(unsigned int addr, const Step &step) {
  if (step.byte) port_access::write_data(addr, *step.byte);
  wait(step.after_byte);
  if (step.pulse) {
    put_control(addr, *step.pulse, Transfer::write, Enable::low);
    wait(step.pulse_wait);
    put_control(addr, *step.pulse, Transfer::write, Enable::high);
    wait(step.pulse_wait);
    put_control(addr, *step.pulse, Transfer::write, Enable::low);
  }
  wait(step.after_pulse);
  if (step.rest) put_control(addr, *step.rest, Transfer::read, Enable::low);
  wait(step.after_rest);
}

}  // namespace lcd_step
