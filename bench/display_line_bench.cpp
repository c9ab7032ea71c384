// What one full display line costs through the kernel's parallel port
// driver (/dev/parport0, one system call per register access) against raw
// port I/O, on the machine it runs on: a player, or the emulated PC of
// tests/vm. A line is lcd_set_string() with 40 characters, the longest
// operation the player repeats; its busy-waits alone last 11.64 ms, the
// floor both ways stand on. Lines are timed in blocks of five, raw and
// through the driver by turns, so that both ways see the same load; the
// figures are medians and their ratios to the floor and to each other, and
// the same for one control-register write.
//
// It drives the real port, so it runs only when asked to with --port, and
// as root (raw port I/O needs the I/O privilege; the driver, /dev/parport0).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lcd/delay.h"
#include "lcd/lcd.h"
#include "lcd/lcd_timing.h"
#include "lcd/lcd_wiring.h"
#include "lcd/port_access.h"
#include "platform/platform.h"
#include "util/clock.h"

namespace {

constexpr unsigned int base = 888;
constexpr char line[] = "scan CD content... (may takes some time)";
static_assert(sizeof line - 1 == 40);
// The line's register writes: the address (its byte and three control
// values), four a character, and the rest value at the end.
constexpr int writes_per_line = 4 + 40 * 4 + 1;

template <class Work>
void measure(int repetitions, std::vector<std::int64_t> &samples, Work work) {
  for (int i = 0; i < repetitions; ++i) {
    const std::int64_t start = util::monotonic_ns();
    work();
    samples.push_back(util::monotonic_ns() - start);
  }
}

double median(std::vector<std::int64_t> samples) {
  if (samples.empty()) return 0;
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return double(samples[samples.size() / 2]);
}

// What the waits of one line add up to: the address step, three waits a
// character, and the closing two.
double floor_nanoseconds() {
  using namespace lcd_timing;
  return 4.0 * udelay_sub_nanoseconds(address_wait) +
         40 * 3.0 * udelay_sub_nanoseconds(character_wait) +
         2.0 * udelay_sub_nanoseconds(step_wait);
}

// Rewrites the control register's rest value: a register access and
// nothing else, the display sees no change.
void rest_write() {
  port_access::write_control(base, lcd_wiring::control_value(lcd_wiring::register_select::data,
                                                             lcd_wiring::transfer_direction::read,
                                                             lcd_wiring::enable_level::low));
}

struct way_timings {
  std::vector<std::int64_t> lines, writes;
};

constexpr int lines_a_block = 5;

void run_block(way_timings &way) {
  measure(lines_a_block, way.lines, [] { lcd_set_string(base, line, 1); });
  measure(lines_a_block * 20, way.writes, rest_write);
}

// Claims the port again, its console line thrown away: the run's first
// claim said it.
bool claim_quietly(bool raw_granted) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved >= 0 && nowhere >= 0) dup2(nowhere, STDOUT_FILENO);
  const bool claimed = port_access::choose(raw_granted) == port_access::access_way::kernel_driver;
  std::fflush(stdout);
  if (saved >= 0) dup2(saved, STDOUT_FILENO);
  if (saved >= 0) close(saved);
  if (nowhere >= 0) close(nowhere);
  return claimed;
}

void report(const char *name, const way_timings &way, double floor, const char *missing) {
  if (way.lines.empty()) {
    std::printf("%-24s not measured: %s\n", name, missing);
    return;
  }
  const double line_ns = median(way.lines);
  std::printf("%-24s line %8.3f ms  %6.4f x floor   one write %7.3f us\n", name, line_ns / 1e6,
              line_ns / floor, median(way.writes) / 1e3);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || std::strcmp(argv[1], "--port") != 0) {
    std::fprintf(stderr,
                 "usage: display_line_bench --port [LINES]\n"
                 "times display lines on the first parallel port (see the source)\n");
    return 2;
  }
  const int lines = argc > 2 ? std::clamp(std::atoi(argv[2]), 5, 10000) : 50;
  const bool raw_granted = platform::request_port_access() == 0;

  way_timings raw, driver;
  bool claimed = port_access::choose(raw_granted) == port_access::access_way::kernel_driver;
  lcd_init(base);
  for (int block = 0; block < (lines + lines_a_block - 1) / lines_a_block; ++block) {
    if (claimed) {
      claimed = block == 0 || claim_quietly(raw_granted);
      if (claimed) run_block(driver);
    }
    if (raw_granted) {
      port_access::release();
      run_block(raw);
    }
  }
  port_access::release();

  const double floor = floor_nanoseconds();
  std::printf("\n40-character line, %zu lines through the driver, %zu raw (median)\n",
              driver.lines.size(), raw.lines.size());
  std::printf("%-24s line %8.3f ms\n", "waits alone (floor)", floor / 1e6);
  report("raw port I/O", raw, floor, "no I/O privilege");
  report("/dev/parport0 (ppdev)", driver, floor, "not claimed");
  if (!raw.lines.empty() && !driver.lines.empty()) {
    std::printf("%-24s line %6.4f x raw, one write %6.2f x raw, %+.3f us a write\n",
                "driver against raw", median(driver.lines) / median(raw.lines),
                median(driver.writes) / median(raw.writes),
                (median(driver.lines) - median(raw.lines)) / writes_per_line / 1e3);
  }
  return 0;
}
