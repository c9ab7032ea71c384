// The replay of traced port writes (tools/port-replay): the display driver's
// writes, recorded by the emulated port and written out as qemu traces them,
// must replay into the same screen (drawn letters included) without a busy
// write; writes that come
// too fast must be reported; step marks and foreign lines are read right.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "emu/display.h"
#include "emu/machine.h"
#include "lcd/lcd.h"
#include "port-replay/replay.h"

namespace {

constexpr unsigned int base = 888;

// One write as qemu's log trace prints it with -msg timestamp=on.
std::string trace_line(const sim::logged_write &write, std::int64_t squeeze = 1) {
  const std::int64_t microseconds = write.time_nanoseconds / 1000 / squeeze;
  char line[128];
  std::snprintf(line, sizeof line,
                "4242@%lld.%06lld:parallel_ioport_write write [SW] addr 0x%02x val 0x%02x",
                static_cast<long long>(microseconds / 1000000),
                static_cast<long long>(microseconds % 1000000), write.port - base, write.value);
  return line;
}

struct replayed {
  std::vector<std::string> lines;
  std::uint64_t busy = 0;
};

replayed replay_all(const std::vector<std::string> &trace,
                    sim::glass_rom rom = sim::glass_rom::a00) {
  std::ostringstream out;
  port_replay::replay display(out, rom);
  long number = 0;
  for (const std::string &line : trace) {
    port_replay::traced_write write;
    ++number;
    if (port_replay::parse_trace_line(line, write) == port_replay::line_kind::write) {
      display.feed(write, number);
    }
  }
  replayed result;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) result.lines.push_back(line);
  result.busy = display.busy_violations();
  return result;
}

class PortReplayTest : public testing::Test {
 protected:
  void SetUp() override {
    sim::reset_display_emulator();
    testing::internal::CaptureStdout();
    lcd_init(base);
    lcd_clear(base);
    lcd_set_string(base, "Bitte CD einlegen...", 1);
    lcd_set_string(base, "scan CD content... 9 titles", 2);
    const unsigned char o_umlaut[8] = {0x0A, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x11, 0x0E};
    lcd_load_pattern(base, 3, o_umlaut);
    lcd_set_string(base, "\x0Bsterreich", 1);
    testing::internal::GetCapturedStdout();
    writes = sim::port_writes();
    ASSERT_EQ(sim::port_writes_dropped(), 0u);
  }

  std::string screen() const {
    const sim::display_snapshot view = sim::display_view();
    return "|" + view.line1 + "|" + view.line2 + "|";
  }

  std::vector<sim::logged_write> writes;
};

TEST_F(PortReplayTest, DriverWritesReplayIntoTheSameScreenWithoutBusyWrites) {
  std::vector<std::string> trace{"parallel_ioport_write write [SW] is not this line",
                                 "1@1.000000:other_event addr 0x02 val 0x01"};
  trace.push_back("4242@0.000001:parallel_ioport_write write [SW] addr 0x07 val 0x03");
  for (const sim::logged_write &write : writes) trace.push_back(trace_line(write));
  const replayed result = replay_all(trace);
  ASSERT_FALSE(result.lines.empty());
  EXPECT_EQ(result.lines.front(), "@@ step 3");
  EXPECT_EQ(result.lines.back(), screen());
  EXPECT_TRUE(result.lines.back().starts_with("|Österreich")) << result.lines.back();
  EXPECT_EQ(result.busy, 0u);
  for (const std::string &line : result.lines) EXPECT_NE(line.rfind("!!", 0), 0u) << line;
}

// The same writes ten times faster: the clear display (1.52 ms) is still
// running when the next instruction comes, and characters are lost.
TEST_F(PortReplayTest, WritesThatComeTooFastAreReportedAndLost) {
  std::vector<std::string> trace;
  for (const sim::logged_write &write : writes) trace.push_back(trace_line(write, 10));
  const replayed result = replay_all(trace);
  EXPECT_GT(result.busy, 0u);
  EXPECT_NE(result.lines.back(), screen());
  int reported = 0;
  for (const std::string &line : result.lines) reported += line.rfind("!! busy ", 0) == 0;
  EXPECT_EQ(static_cast<std::uint64_t>(reported), result.busy);
}

// The glass read is that of the module's ROM: the same codes show A02's
// glyphs when replayed for an A02 module (0xD8 is Φ there, 0xE4 ä), A00's
// otherwise.
TEST_F(PortReplayTest, CodesReadAsTheGlyphsOfTheModulesRom) {
  testing::internal::CaptureStdout();
  lcd_set_string(base, "\xD8\xF8\xE4", 2);
  testing::internal::GetCapturedStdout();
  std::vector<std::string> trace;
  for (const sim::logged_write &write : sim::port_writes()) trace.push_back(trace_line(write));
  // The string overwrites the start of line 2, "scan CD content...".
  const std::string a02 = replay_all(trace, sim::glass_rom::a02).lines.back();
  EXPECT_NE(a02.find("|Φøän CD content"), std::string::npos) << a02;
  const std::string a00 = replay_all(trace).lines.back();
  EXPECT_NE(a00.find("|ﾘx̄µn CD content"), std::string::npos) << a00;
}

TEST(PortReplayTrace, LinesWithoutTimeStampOrNumbersAreNotWrites) {
  port_replay::traced_write write;
  using port_replay::line_kind;
  EXPECT_EQ(
      port_replay::parse_trace_line("parallel_ioport_write write [SW] addr 0x02 val 0x10", write),
      line_kind::untimed_write);
  EXPECT_EQ(port_replay::parse_trace_line(
                "7@12.5x:parallel_ioport_write write [SW] addr 0x02 val 0x10", write),
            line_kind::untimed_write);
  EXPECT_EQ(port_replay::parse_trace_line("7@12.000005:parallel_ioport_write write addr 0x val 0x1",
                                          write),
            line_kind::other);
  ASSERT_EQ(port_replay::parse_trace_line(
                "7@12.000005:parallel_ioport_write write [SW] addr 0x02 val 0xcc", write),
            line_kind::write);
  EXPECT_EQ(write.time_nanoseconds, 12000005000);
  EXPECT_EQ(write.offset, 2u);
  EXPECT_EQ(write.value, 0xCCu);
}

}  // namespace
