// The HD44780 controller model on its own, driven pin by pin with a clock
// the test sets: when it takes a byte, when it is busy, and how the address
// counter, entry mode and display shift move what a person sees, in display
// RAM and in the character generator.
#include "emu/hd44780.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::int64_t microsecond = 1000;

class Hd44780Test : public testing::Test {
 protected:
  // One write cycle: lines set, E high, E low; then `gap` until the next.
  void send(bool data, unsigned char byte, std::int64_t gap = 100 * microsecond) {
    sim::hd44780_pins pins{data, false, false, byte};
    lcd.drive(pins, now);
    pins.enable = true;
    lcd.drive(pins, now += microsecond);
    pins.enable = false;
    lcd.drive(pins, now += microsecond);
    now += gap;
  }
  void instruction(unsigned char byte) { send(false, byte, 2000 * microsecond); }
  void text(const std::string &characters) {
    for (unsigned char c : characters) send(true, c);
  }
  std::string line(int number) const {
    char shown[sim::hd44780::columns];
    lcd.shown_line(number, shown);
    return std::string(shown, sizeof shown);
  }
  static std::string padded(std::string s) {
    s.resize(sim::hd44780::columns, ' ');
    return s;
  }
  void set_up_two_lines() {
    instruction(0x38);
    instruction(0x0C);
    instruction(0x01);
    instruction(0x06);
  }

  sim::hd44780 lcd;
  std::int64_t now = 1000 * microsecond;
};

TEST_F(Hd44780Test, TakesTheByteOnTheFallingEdgeOfE) {
  set_up_two_lines();
  sim::hd44780_pins pins{true, false, true, 'A'};
  lcd.drive(pins, now);
  EXPECT_EQ(line(1), padded("")) << "nothing happens while E is high";
  // RS and R/W change together with E: what stood while E was high counts.
  lcd.drive({false, true, false, 'B'}, now += microsecond);
  EXPECT_EQ(line(1), padded("A"));
  EXPECT_EQ(lcd.address_counter(), 1);
  lcd.drive({true, false, true, 'C'}, now += microsecond);
  EXPECT_EQ(line(1), padded("A")) << "a rising edge takes nothing";
}

TEST_F(Hd44780Test, LosesAndCountsWhatArrivesWhileBusy) {
  set_up_two_lines();
  send(true, 'a', 35 * microsecond);  // the next falling edge comes exactly 37 us later
  send(true, 'b', 30 * microsecond);
  send(true, 'c');
  EXPECT_EQ(line(1), padded("ab"));
  EXPECT_EQ(lcd.busy_violations(), 1u);

  send(false, 0x01, 1450 * microsecond);  // clear needs 1.52 ms
  text("xy");
  EXPECT_EQ(line(1), padded("y"));
  EXPECT_EQ(lcd.busy_violations(), 2u);

  send(false, 0x02, 1518 * microsecond);  // return home: the next edge 1.52 ms later
  text("z");
  EXPECT_EQ(line(1), padded("z"));
  EXPECT_EQ(lcd.busy_violations(), 2u);
}

TEST_F(Hd44780Test, AddressCounterRunsThroughBothLinesInOrder) {
  set_up_two_lines();
  instruction(0xA6);  // line 1, column 38
  text("1234");
  EXPECT_EQ(line(1), padded("").substr(0, 38) + "12");
  EXPECT_EQ(line(2), padded("34"));
  instruction(0xE7);  // line 2, column 39
  text("56");
  EXPECT_EQ(line(1), padded("6").substr(0, 38) + "12") << "wraps to line 1, column 0";

  instruction(0x04);  // decrement
  instruction(0x85);
  text("cba");
  EXPECT_EQ(line(1), padded("6  abc").substr(0, 38) + "12");
}

TEST_F(Hd44780Test, DisplayShiftMovesTheViewNotTheText) {
  set_up_two_lines();
  text("abc");
  instruction(0x18);
  EXPECT_EQ(line(1), padded("bc").substr(0, 39) + "a");
  instruction(0x1C);
  instruction(0x1C);
  EXPECT_EQ(line(1), padded(" abc"));
  EXPECT_EQ(line(2), padded(""));
  instruction(0x02);
  EXPECT_EQ(line(1), padded("abc"));

  instruction(0x07);  // entry mode: increment and shift on every write
  instruction(0x83);
  text("de");
  EXPECT_EQ(line(1), padded("cde").substr(0, 38) + "ab");
  instruction(0x08);
  EXPECT_EQ(line(1), padded("")) << "display off shows nothing";
}

// The character generator has an address of its own: each data write after
// it fills the next row (its low five bits), on through the slots and from
// the last row round to the first, without shifting the view; a display
// address then sends characters to display RAM again.
TEST_F(Hd44780Test, GeneratorRamTakesPatternRowsAtItsOwnAddress) {
  set_up_two_lines();
  instruction(0x07);  // increment, and shift the view on every write
  instruction(0x48);  // slot 1, row 0
  for (unsigned char row = 0; row < 9; ++row) send(true, static_cast<unsigned char>(0xE0 | row));
  EXPECT_EQ(lcd.address_counter(), 0x11);
  const sim::character_generator_ram &ram = lcd.generator_ram();
  for (int row = 0; row < 9; ++row) EXPECT_EQ(ram[8 + row], row) << row;

  instruction(0x7F);
  send(true, 0x1F);
  send(true, 0x15);
  EXPECT_EQ(ram[63], 0x1F);
  EXPECT_EQ(ram[0], 0x15);
  EXPECT_EQ(lcd.address_counter(), 0x01);
  EXPECT_EQ(line(1), padded("")) << "pattern rows neither show nor shift the view";

  instruction(0x06);
  instruction(0x80);
  text("\x01\x09");
  EXPECT_EQ(line(1), padded("\x01\x09"));
  EXPECT_EQ(lcd.address_counter(), 0x02);
}

TEST_F(Hd44780Test, OneLineModeShowsOnlyTheTopRow) {
  instruction(0x30);
  instruction(0x0C);
  instruction(0xC0);  // 0x40: the middle of the single 80-character line
  text("x");
  EXPECT_EQ(line(1), padded(""));
  for (int i = 0; i < 25; ++i) instruction(0x18);
  EXPECT_EQ(line(1), padded("").substr(0, 39) + "x");
  EXPECT_EQ(line(2), padded(""));
}

}  // namespace
