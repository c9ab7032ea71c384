// An HD44780 character display controller as a plain state machine, fed
// with the levels of its pins and the time they changed.
//
// It takes a byte on the falling edge of E, with RS, R/W and D0-D7 as they
// stood while E was high, and keeps the controller's real state: display
// RAM (two 40-character lines, or one of 80), character-generator RAM, the
// address counter, entry mode, display on/off and the display shift. Each
// instruction keeps it busy for its execution time (37 us, 1.52 ms for clear
// display and return home); an instruction or character that arrives while
// it is busy is lost, as on the real chip, and counted.
//
// The player wires all eight data lines, so only the 8-bit interface is
// modelled. The object holds no pointers, so it can live in memory that several
// processes share.
#pragma once

#include <array>
#include <cstdint>

namespace sim {

// The character-generator RAM: in 5x8 mode eight patterns of eight rows,
// the low five bits of each row its dots.
inline constexpr int pattern_rows = 8;
inline constexpr int generator_bytes = 0x40;
using character_generator_ram = std::array<unsigned char, generator_bytes>;

struct hd44780_pins {
  bool register_select_data = false;  // RS high: data register; low: instruction register
  bool read = true;                   // R/W high: read; low: write
  bool enable = false;                // E
  unsigned char data = 0;             // D0-D7 as driven by the host
};

class hd44780 {
 public:
  static constexpr int columns = 40;
  static constexpr std::int64_t instruction_nanoseconds = 37000;
  static constexpr std::int64_t clear_home_nanoseconds = 1520000;

  hd44780() { reset(); }

  // Power-on state: 8-bit interface, one line, display off and cleared,
  // address counter 0 incrementing, not busy.
  void reset();

  // The host drives the pins to `pins` at `now_nanoseconds` (monotonic).
  void drive(const hd44780_pins &pins, std::int64_t now_nanoseconds);

  // Whether the controller drives D0-D7 now (R/W high, E high), and with what.
  bool drives_data_lines() const { return pins_.read && pins_.enable; }
  unsigned char data_lines_output(std::int64_t now_nanoseconds) const;

  // The character codes in view on line 1 or 2: `columns` of them, blanks
  // where the display is off or a line is not in use. What they look like
  // is the character ROM's business (glass.h).
  void shown_line(int line, char (&out)[columns]) const;
  const character_generator_ram &generator_ram() const { return generator_ram_; }

  std::uint64_t busy_violations() const { return busy_violations_; }
  bool busy(std::int64_t now_nanoseconds) const { return now_nanoseconds < busy_until_; }
  unsigned char address_counter() const { return address_; }

 private:
  void latch(std::int64_t now_nanoseconds);
  std::int64_t execute_instruction(unsigned char byte);
  void write_data(unsigned char byte);
  void read_data();
  void move_address(bool increment);
  void shift_display(bool left);
  int address_span() const { return two_lines_ ? columns : 2 * columns; }
  unsigned char normalised_display_address(unsigned char address) const;

  hd44780_pins pins_;
  hd44780_pins held_;  // the pins while E was last high: what the falling edge takes
  unsigned char display_ram_[0x80];
  character_generator_ram generator_ram_;
  unsigned char address_ = 0;
  bool address_in_generator_ = false;
  bool two_lines_ = false;
  bool increment_ = true;
  bool shift_on_write_ = false;
  bool display_on_ = false;
  int display_shift_ = 0;  // the address shown in column 0, relative to its line's start
  std::int64_t busy_until_ = 0;
  std::uint64_t busy_violations_ = 0;
};

}  // namespace sim
