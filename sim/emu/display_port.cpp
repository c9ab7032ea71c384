// The port registers in front of the emulated HD44780: every write drives
// the controller's pins afresh through the cable, and a data read returns
// whoever drives D0-D7 at that moment.
#include "emu/display_port.h"

#include <cstring>

#include "emu/display_cable.h"

namespace sim {

void DisplayPort::power_on(std::int64_t now_nanoseconds) {
  controller_.reset();
  data_register_ = 0;
  control_register_ = power_on_control;
  drive(now_nanoseconds);
}

bool DisplayPort::write(unsigned int offset, unsigned char value, std::int64_t now_nanoseconds) {
  if (offset == data_offset) {
    data_register_ = value;
  } else if (offset == control_offset) {
    control_register_ = value;
  } else {
    return false;
  }
  drive(now_nanoseconds);
  return true;
}

// With the direction bit clear the port drives D0-D7 itself and reads back
// its own byte, whatever the display does; with it set, the lines carry
// what the controller drives, or float high.
unsigned char DisplayPort::read(unsigned int offset, std::int64_t now_nanoseconds) const {
  switch (offset) {
    case data_offset:
      if (!(control_register_ & direction_bit)) return data_register_;
      if (controller_.drives_data_lines()) return controller_.data_lines_output(now_nanoseconds);
      return floating_lines;
    case status_offset:
      return idle_status;
    case control_offset:
      return control_register_;
    default:
      return floating_lines;
  }
}

Screen DisplayPort::screen() const {
  char line[Hd44780::columns];
  Screen shown;
  shown.text[0] = '|';
  controller_.shown_line(1, line);
  std::memcpy(shown.text + 1, line, sizeof line);
  shown.text[Hd44780::columns + 1] = '|';
  controller_.shown_line(2, line);
  std::memcpy(shown.text + Hd44780::columns + 2, line, sizeof line);
  shown.text[Screen::size - 1] = '|';
  return shown;
}

void DisplayPort::drive(std::int64_t now_nanoseconds) {
  controller_.drive(display_pins(data_register_, control_register_), now_nanoseconds);
}

}  // namespace sim
