// The emulated parallel port: what reads return, the display log and event
// that the simulator's panel follows, and one display shared by every
// process of the program.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "emu/display.h"
#include "emu/glass.h"
#include "emu/machine.h"
#include "lcd/lcd.h"
#include "platform/platform.h"
#include "support/frame_stamps.h"
#include "support/glass_text.h"
#include "support/sim_process.h"

namespace {

constexpr unsigned short data_port = 888, status_port = 889, control_port = 890;

std::string padded(std::string text) {
  text.resize(sim::display_columns, ' ');
  return text;
}

class ParallelPortTest : public testing::Test {
 protected:
  void SetUp() override {
    sim::reset_display_emulator();
    testing::internal::CaptureStdout();
    lcd_init(data_port);
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override {
    sim::machine_config().display_log.clear();
    sim::machine_config().patterns_log.clear();
    sim::machine_config().display_event_fd = -1;
  }
};

TEST_F(ParallelPortTest, ReadsAreDefinedForEveryRegister) {
  platform::port_write(data_port, 0x5A);
  EXPECT_EQ(platform::port_read(data_port), 0x5A) << "the port reads back what it drives";
  EXPECT_EQ(platform::port_read(status_port), 0x7F);
  EXPECT_EQ(platform::port_read(control_port), 0xC9);
  EXPECT_EQ(platform::port_read(0x278), 0xFF);

  lcd_set_string(data_port, "ab", 2);                           // address counter now 0x42
  std::this_thread::sleep_for(std::chrono::microseconds(100));  // no longer busy
  platform::port_write(control_port, 0xE8);  // direction in, E low, instruction register, read
  EXPECT_EQ(platform::port_read(data_port), 0xFF) << "nobody drives the lines";
  platform::port_write(control_port, 0xEC);  // E high: the controller answers
  EXPECT_EQ(platform::port_read(data_port), 0x42);
}

TEST_F(ParallelPortTest, EachVisibleChangeIsLoggedAndSignalled) {
  const std::string log_path = testing::TempDir() + "display_log_test.txt";
  std::remove(log_path.c_str());
  const int event_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ASSERT_GE(event_fd, 0);
  sim::machine_config().display_log = log_path;
  sim::machine_config().display_event_fd = event_fd;

  lcd_set_string(data_port, "Hi", 1);
  lcd_set_string(data_port, "Hi", 1);  // shows nothing new
  lcd_clear(data_port);

  std::ifstream log(log_path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  const std::string blank = padded("");
  EXPECT_EQ(lines, (std::vector<std::string>{"|" + padded("H") + "|" + blank + "|",
                                             "|" + padded("Hi") + "|" + blank + "|",
                                             "|" + blank + "|" + blank + "|"}));
  std::uint64_t signalled = 0;
  ASSERT_EQ(read(event_fd, &signalled, sizeof signalled), ssize_t(sizeof signalled));
  EXPECT_EQ(signalled, 3u);
  close(event_fd);
  std::remove(log_path.c_str());
}

// The display, its log and the panel show the glass of an A00 module: a
// name's raw UTF-8 bytes as katakana, \\ and ~ as ¥ and →, a slot as the
// letter its pattern draws, or ▒. The patterns log gets the eight slots
// with the first record after they changed.
TEST_F(ParallelPortTest, TheGlassShowsWhatAnA00ModuleShows) {
  const std::string log_path = testing::TempDir() + "glass_display.log";
  const std::string patterns_path = testing::TempDir() + "glass_patterns.log";
  std::remove(log_path.c_str());
  std::remove(patterns_path.c_str());
  sim::machine_config().display_log = log_path;
  sim::machine_config().patterns_log = patterns_path;

  lcd_set_string(data_port, "M\xC3\xB6tley \\~ \x09", 1);
  EXPECT_EQ(sim::display_view().line1, glass_line("Mﾃｶtley ¥→ ▒"));
  const unsigned char a_umlaut[8] = {0x0A, 0x00, 0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11};
  lcd_load_pattern(data_port, 1, a_umlaut);
  lcd_set_string(data_port, "x", 2);

  const std::string screen = "|" + glass_line("Mﾃｶtley ¥→ Ä") + "|" + glass_line("x") + "|";
  EXPECT_EQ(read_lines(log_path).back(), screen);
  const std::string drawing = sim::display_patterns();
  EXPECT_TRUE(
      drawing.starts_with("0 ▒   1 Ä   2 ▒   3 ▒   4 ▒   5 ▒   6 ▒   7 ▒\n"
                          "..... .#.#. ..... ..... ..... ..... ..... .....\n"))
      << drawing;
  EXPECT_EQ(read_lines(patterns_path).size(), 2u * (sim::pattern_rows + 2))
      << "the slots before and after the load";
  EXPECT_TRUE(file_contents(patterns_path).ends_with(drawing + "\n"));
  std::remove(log_path.c_str());
  std::remove(patterns_path.c_str());
}

TEST_F(ParallelPortTest, ForkedProcessesDriveTheSameDisplay) {
  lcd_set_string(data_port, "parent", 1);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    lcd_set_string(data_port, "child", 2);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(sim::display_view().line1, padded("parent"));
  EXPECT_EQ(sim::display_view().line2, padded("child"));
  EXPECT_EQ(sim::display_busy_violations(), 0u);
}

}  // namespace
