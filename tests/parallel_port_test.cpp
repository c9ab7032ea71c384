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
#include "emu/machine.h"
#include "lcd/lcd.h"
#include "platform/platform.h"

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
