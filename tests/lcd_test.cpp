// The display driver on the emulated port: the exact port sequences with
// their minimum spacing, and what a person sees on the display afterwards.
#include "lcd/lcd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "emu/display.h"
#include "emu/machine.h"
#include "lcd/delay.h"
#include "support/glass_text.h"

namespace {

constexpr unsigned int base = 888;
constexpr unsigned short data_port = 888, control_port = 890;
constexpr unsigned long clear_home_wait = 7043747;  // 1.64 ms

struct write_step {
  unsigned short port;
  unsigned char value;
  unsigned long wait_after;  // the least time, as a wait count, before the next write
};
write_step D(unsigned char value, unsigned long wait = 0) { return {data_port, value, wait}; }
write_step C(unsigned char value, unsigned long wait = 0) { return {control_port, value, wait}; }

std::string padded(std::string text) {
  text.resize(sim::display_columns, ' ');
  return text;
}

std::vector<write_step> string_sequence(unsigned char address, const std::string &text) {
  std::vector<write_step> steps{D(address, 500000), C(0xC9, 500000), C(0xCD, 500000),
                                C(0xC9, 500000)};
  for (unsigned char c : text) {
    steps.insert(steps.end(), {D(c, 400000), C(0xC1, 400000), C(0xC5, 400000), C(0xC1)});
  }
  steps.back().wait_after = 5000;
  steps.push_back(C(0xC0, 5000));
  return steps;
}

class LcdTest : public testing::Test {
 protected:
  void SetUp() override { sim::reset_display_emulator(); }

  std::string init() {
    testing::internal::CaptureStdout();
    lcd_init(base);
    return testing::internal::GetCapturedStdout();
  }

  void expect_sequence(const std::vector<write_step> &expected) {
    const auto writes = sim::port_writes();
    ASSERT_EQ(writes.size(), expected.size());
    for (std::size_t i = 0; i < writes.size(); ++i) {
      EXPECT_EQ(writes[i].port, expected[i].port) << "write " << i;
      EXPECT_EQ(writes[i].value, expected[i].value) << "write " << i;
      if (i + 1 < writes.size()) {
        EXPECT_GE(writes[i + 1].time_nanoseconds - writes[i].time_nanoseconds,
                  std::int64_t(udelay_sub_nanoseconds(expected[i].wait_after)))
            << "after write " << i;
      }
    }
  }
};

TEST_F(LcdTest, InitResetsTheControllerAndLeavesABlankDisplayOn) {
  EXPECT_EQ(init(), "WWWWWW\niopl 0\n");
  std::vector<write_step> expected{D(0x38)};
  for (int i = 0; i < 3; ++i)
    expected.insert(expected.end(), {C(0xC9, 5000), C(0xCD, 5000), C(0xC9, 4500000)});
  expected.insert(expected.end(), {D(0x0C), C(0xC9, 5000), C(0xCD, 5000), C(0xC9, 5000)});
  expected.insert(expected.end(), {D(0x01, 400000), C(0xC9, 400000), C(0xCD, 400000),
                                   C(0xC9, clear_home_wait), C(0xC8, 400000)});
  expected.insert(expected.end(), {D(0x06), C(0xC9, 5000), C(0xCD, 5000), C(0xC9)});
  expect_sequence(expected);
  EXPECT_EQ(sim::display_view().line1, padded(""));
  EXPECT_EQ(sim::display_busy_violations(), 0u);

  lcd_set_string(base, "Bitte CD einlegen...", 1);
  EXPECT_EQ(sim::display_view().line1, padded("Bitte CD einlegen..."));
  EXPECT_EQ(sim::display_busy_violations(), 0u);
}

TEST_F(LcdTest, InitReportsARefusedPortAccessAndGoesOn) {
  sim::refuse_port_access(true);
  EXPECT_EQ(init(), "WWWWWW\niopl -1\n");
  lcd_set_string(base, "still here", 2);
  EXPECT_EQ(sim::display_view().line2, padded("still here"));
}

TEST_F(LcdTest, TextRightAfterClearOrReturnHomeArrivesWhole) {
  init();
  lcd_set_string(base, "old text on line one", 1);
  sim::clear_port_writes();
  lcd_clear(base);
  expect_sequence({D(0x01, 400000), C(0xC9, 400000), C(0xCD, 400000), C(0xC9, clear_home_wait),
                   C(0xC8, 400000)});
  lcd_set_string(base, "Interpreten:", 1);
  EXPECT_EQ(sim::display_view().line1, padded("Interpreten:"));

  // Like the shifts, return home waits only 1.2 us for the character before it.
  std::this_thread::sleep_for(std::chrono::microseconds(100));
  sim::clear_port_writes();
  lcd_return(base);
  expect_sequence({D(0x02), C(0xC9, 5000), C(0xCD, 5000), C(0xC9, clear_home_wait)});
  lcd_set_string(base, "Alben:", 2);
  EXPECT_EQ(sim::display_view().line2, padded("Alben:"));
  EXPECT_EQ(sim::display_busy_violations(), 0u);
}

TEST_F(LcdTest, SetStringWritesFromColumnZeroOfItsLine) {
  init();
  sim::clear_port_writes();
  lcd_set_string(base, "ab", 1);
  expect_sequence(string_sequence(0x80, "ab"));

  for (unsigned int line : {2u, 0u, 3u}) {
    sim::clear_port_writes();
    lcd_set_string(base, "cd", line);
    expect_sequence(string_sequence(0xC0, "cd"));
  }
  // Only the written columns change; the rest of the line keeps its text.
  lcd_set_string(base, "Titel:", 1);
  lcd_set_string(base, "X", 1);
  EXPECT_EQ(sim::display_view().line1, padded("Xitel:"));
  EXPECT_EQ(sim::display_view().line2, padded("cd"));
  EXPECT_EQ(sim::display_busy_violations(), 0u);
}

TEST_F(LcdTest, SetStringWritesAtMostOneLine) {
  init();
  const std::string full = "scan CD content... (may takes some time)";
  ASSERT_EQ(full.size(), 40u);
  lcd_set_string(base, full.c_str(), 1);
  EXPECT_EQ(sim::display_view().line1, full);

  lcd_set_string(base, (full + "MORE").c_str(), 2);
  EXPECT_EQ(sim::display_view().line2, full);
  EXPECT_EQ(sim::display_view().line1, full) << "the cut text must not wrap onto line 1";

  sim::clear_port_writes();
  lcd_set_string(base, nullptr, 1);
  EXPECT_TRUE(sim::port_writes().empty());
  lcd_set_string(base, "", 1);
  expect_sequence(string_sequence(0x80, ""));

  // Bytes above 0x7F go out unchanged: ROM A00 shows these three as µ Σ 円.
  lcd_set_string(base, "\xE4\xF6\xFC", 1);
  EXPECT_TRUE(sim::display_view().line1.starts_with("µΣ円n")) << sim::display_view().line1;
  EXPECT_EQ(sim::display_busy_violations(), 0u);
}

TEST_F(LcdTest, SingleInstructionsSendTheirBytes) {
  init();
  sim::clear_port_writes();
  lcd_set_char(base, 'Z', 0x45);
  expect_sequence({D(0xC5, 500000), C(0xC9, 500000), C(0xCD, 500000), C(0xC9, 500000),
                   C(0xC0, 500000), D('Z', 500000), C(0xC1, 500000), C(0xC5, 500000),
                   C(0xC1, 500000), C(0xC0)});
  EXPECT_EQ(sim::display_view().line2, padded("     Z"));

  sim::clear_port_writes();
  lcd_cg(base, 0x08);
  expect_sequence({D(0x48, 5000), C(0xC9, 5000), C(0xCD, 5000), C(0xC9, 5000), C(0xC0)});

  sim::clear_port_writes();
  lcd_shift_left(base);
  lcd_shift_right(base);
  expect_sequence({D(0x18), C(0xC9, 5000), C(0xCD, 5000), C(0xC9, 5000), D(0x1C), C(0xC9, 5000),
                   C(0xCD, 5000), C(0xC9)});
}

// A pattern goes in as its slot's generator address and eight rows, each a
// step of its own with a character's waits; the slot's two codes then show
// the letter it draws, and a text written next lands in display memory.
TEST_F(LcdTest, LoadPatternFillsOneSlotThatBothItsCodesShow) {
  init();
  const unsigned char o_umlaut[8] = {0x0A, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x11, 0x0E};
  sim::clear_port_writes();
  lcd_load_pattern(base, 9, o_umlaut);  // slot 9 is slot 1
  std::vector<write_step> expected{D(0x48, 400000), C(0xC9, 400000), C(0xCD, 400000),
                                   C(0xC9, 400000), C(0xC0, 400000)};
  for (unsigned char row : o_umlaut) {
    expected.insert(expected.end(), {D(row, 400000), C(0xC1, 400000), C(0xC5, 400000),
                                     C(0xC1, 400000), C(0xC0, 400000)});
  }
  expected.back().wait_after = 0;
  expect_sequence(expected);

  lcd_set_string(base, "\x01sterreich \x09l", 1);
  EXPECT_EQ(sim::display_view().line1, glass_line("Österreich Öl")) << sim::display_patterns();

  sim::clear_port_writes();
  lcd_load_pattern(base, 2, nullptr);
  EXPECT_TRUE(sim::port_writes().empty());
  EXPECT_EQ(sim::display_busy_violations(), 0u);
}

TEST_F(LcdTest, BusyReadsBit7OfTheDataLines) {
  init();
  sim::clear_port_writes();
  EXPECT_EQ(lcd_busy(base), 0);  // the data register still holds 0x06
  expect_sequence({C(0xC4, 5000), C(0xC0, 5000), C(0xC4)});
  lcd_set_char(base, 0xE4, 0);
  EXPECT_EQ(lcd_busy(base), 0x80);

  sim::clear_port_writes();
  EXPECT_EQ(lcd_wait(base), 0);
  EXPECT_TRUE(sim::port_writes().empty());
}

// Two threads (the MP3 mode's key loop and reader) never interleave their
// sequences: the log is whole operations one after another.
TEST_F(LcdTest, ConcurrentCallersDoNotInterleave) {
  init();
  sim::clear_port_writes();
  constexpr int rounds = 15;
  std::thread key_loop([] {
    for (int i = 0; i < rounds; ++i) lcd_set_string(base, "key", 1);
  });
  std::thread reader([] {
    for (int i = 0; i < rounds; ++i) lcd_set_string(base, "reader", 2);
  });
  key_loop.join();
  reader.join();

  const auto on_line1 = string_sequence(0x80, "key"), on_line2 = string_sequence(0xC0, "reader");
  const auto writes = sim::port_writes();
  int whole_operations = 0;
  for (std::size_t at = 0; at < writes.size(); ++whole_operations) {
    const auto &expected = writes[at].value == 0x80 ? on_line1 : on_line2;
    ASSERT_LE(at + expected.size(), writes.size());
    for (const write_step &step : expected) {
      ASSERT_EQ(writes[at].value, step.value) << "write " << at;
      ++at;
    }
  }
  EXPECT_EQ(whole_operations, 2 * rounds);
  EXPECT_EQ(sim::display_view().line1, padded("key"));
  EXPECT_EQ(sim::display_view().line2, padded("reader"));
  EXPECT_EQ(sim::display_busy_violations(), 0u);
}

}  // namespace
