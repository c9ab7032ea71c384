// The controller's instruction set and memory map. Display RAM addresses in
// two-line mode are 0x00-0x27 (line 1) and 0x40-0x67 (line 2); in one-line
// mode 0x00-0x4F. The address counter steps through those 80 cells in order
// and wraps from the last to the first, as the chip's does.
#include "emu/hd44780.h"

#include <cstring>

namespace sim {

namespace {
constexpr int cells = 2 * hd44780::columns;
constexpr unsigned char line2_start = 0x40;
constexpr unsigned char busy_flag = 0x80;
}  // namespace

void hd44780::reset() {
  pins_ = hd44780_pins{};
  held_ = hd44780_pins{};
  std::memset(display_ram_, ' ', sizeof display_ram_);
  generator_ram_.fill(0);
  address_ = 0;
  address_in_generator_ = false;
  two_lines_ = false;
  increment_ = true;
  shift_on_write_ = false;
  display_on_ = false;
  display_shift_ = 0;
  busy_until_ = 0;
  busy_violations_ = 0;
}

void hd44780::drive(const hd44780_pins &pins, std::int64_t now_nanoseconds) {
  const bool falling_edge = pins_.enable && !pins.enable;
  // The lines must hold still around the falling edge; a host that changes
  // RS or R/W in the same step as E still gets what stood while E was high.
  if (pins.enable) held_ = pins;
  pins_ = pins;
  if (falling_edge) latch(now_nanoseconds);
}

void hd44780::latch(std::int64_t now_nanoseconds) {
  // Reading the busy flag and address is the one access allowed while busy.
  if (held_.read && !held_.register_select_data) return;
  if (busy(now_nanoseconds)) {
    ++busy_violations_;
    return;
  }
  if (held_.read) {
    read_data();
    busy_until_ = now_nanoseconds + instruction_nanoseconds;
    return;
  }
  std::int64_t duration = instruction_nanoseconds;
  if (held_.register_select_data) {
    write_data(held_.data);
  } else {
    duration = execute_instruction(held_.data);
  }
  busy_until_ = now_nanoseconds + duration;
}

std::int64_t hd44780::execute_instruction(unsigned char byte) {
  if (byte & 0x80) {  // set display RAM address
    address_ = normalised_display_address(byte & 0x7F);
    address_in_generator_ = false;
  } else if (byte & 0x40) {  // set character-generator RAM address
    address_ = byte & 0x3F;
    address_in_generator_ = true;
  } else if (byte & 0x20) {  // function set: N (DL is taken as 8-bit, F only picks the font)
    two_lines_ = byte & 0x08;
    display_shift_ %= address_span();
    if (!address_in_generator_) address_ = normalised_display_address(address_);
  } else if (byte & 0x10) {  // cursor or display shift: S/C, R/L
    if (byte & 0x08) {
      shift_display(!(byte & 0x04));
    } else {
      move_address(byte & 0x04);
    }
  } else if (byte & 0x08) {  // display on/off (cursor and blink are not shown)
    display_on_ = byte & 0x04;
  } else if (byte & 0x04) {  // entry mode: I/D, S
    increment_ = byte & 0x02;
    shift_on_write_ = byte & 0x01;
  } else if (byte & 0x02) {  // return home
    address_ = 0;
    address_in_generator_ = false;
    display_shift_ = 0;
    return clear_home_nanoseconds;
  } else if (byte & 0x01) {  // clear display
    std::memset(display_ram_, ' ', sizeof display_ram_);
    address_ = 0;
    address_in_generator_ = false;
    display_shift_ = 0;
    increment_ = true;
    return clear_home_nanoseconds;
  }
  return instruction_nanoseconds;
}

void hd44780::write_data(unsigned char byte) {
  if (address_in_generator_) {
    generator_ram_[address_] = byte & 0x1F;  // five dots a row
    move_address(increment_);
    return;
  }
  display_ram_[address_] = byte;
  move_address(increment_);
  if (shift_on_write_) shift_display(increment_);
}

// What a data read put on the lines is display_ram_ at the address before
// this step; the read then moves the address counter like a write.
void hd44780::read_data() { move_address(increment_); }

void hd44780::move_address(bool increment) {
  if (address_in_generator_) {
    address_ = (address_ + (increment ? 1 : 0x3F)) & 0x3F;
    return;
  }
  int cell = address_;
  if (two_lines_ && address_ >= line2_start) cell = columns + (address_ - line2_start);
  cell = (cell + (increment ? 1 : cells - 1)) % cells;
  if (two_lines_ && cell >= columns) cell = line2_start + (cell - columns);
  address_ = static_cast<unsigned char>(cell);
}

void hd44780::shift_display(bool left) {
  const int span = address_span();
  display_shift_ = (display_shift_ + (left ? 1 : span - 1)) % span;
}

// Addresses outside the memory map have no defined meaning; like the common
// emulations, land on the start of the next line.
unsigned char hd44780::normalised_display_address(unsigned char address) const {
  if (!two_lines_) return address < cells ? address : 0;
  if (address >= columns && address < line2_start) return line2_start;
  if (address >= line2_start + columns) return 0;
  return address;
}

unsigned char hd44780::data_lines_output(std::int64_t now_nanoseconds) const {
  if (pins_.register_select_data) {
    return address_in_generator_ ? generator_ram_[address_] : display_ram_[address_];
  }
  return static_cast<unsigned char>((busy(now_nanoseconds) ? busy_flag : 0) | (address_ & 0x7F));
}

void hd44780::shown_line(int line, char (&out)[columns]) const {
  std::memset(out, ' ', columns);
  if (!display_on_) return;
  if (two_lines_) {
    const int start = line == 1 ? 0 : line2_start;
    for (int column = 0; column < columns; ++column) {
      out[column] = static_cast<char>(display_ram_[start + (column + display_shift_) % columns]);
    }
  } else if (line == 1) {
    // One-line mode drives only the top row of the panel.
    for (int column = 0; column < columns; ++column) {
      out[column] = static_cast<char>(display_ram_[(column + display_shift_) % cells]);
    }
  }
}

}  // namespace sim
