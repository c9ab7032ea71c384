// The port registers in front of the emulated HD44780: every write drives
// the controller's pins afresh through the cable, and a data read returns
// whoever drives D0-D7 at that moment.
#include "emu/display_port.h"

#include <cstring>

#include "emu/display_cable.h"

namespace sim {

void display_port::power_on(std::int64_t now_nanoseconds) {
  controller_.reset();
  data_register_ = 0;
  control_register_ = power_on_control;
  drive(now_nanoseconds);
}

bool display_port::write(unsigned int offset, unsigned char value, std::int64_t now_nanoseconds) {
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
unsigned char display_port::read(unsigned int offset, std::int64_t now_nanoseconds) const {
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

screen_contents display_port::screen() const {
  screen_contents shown;
  controller_.shown_line(1, shown.codes[0]);
  controller_.shown_line(2, shown.codes[1]);
  shown.generator_ram = controller_.generator_ram();
  shown.rom = rom_;
  return shown;
}

std::string screen_contents::line(int number) const {
  std::string cells;
  for (const char code : codes[number == 1 ? 0 : 1]) {
    cells += glass_cell(static_cast<unsigned char>(code), generator_ram, rom);
  }
  return cells;
}

std::string screen_contents::whole() const { return "|" + line(1) + "|" + line(2) + "|"; }

// Most port writes change nothing in view; the glass is read only when the
// codes or the patterns did change, and a changed pattern no cell shows
// changes nothing.
bool screen_contents::operator==(const screen_contents &other) const {
  if (std::memcmp(codes, other.codes, sizeof codes) == 0 && generator_ram == other.generator_ram &&
      rom == other.rom) {
    return true;
  }
  return whole() == other.whole();
}

void display_port::drive(std::int64_t now_nanoseconds) {
  controller_.drive(display_pins(data_register_, control_register_), now_nanoseconds);
}

}  // namespace sim
