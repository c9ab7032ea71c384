// What the emulated parallel port and HD44780 display show, for the
// simulator and for tests: the two lines as a person sees them, the log of
// port writes, and how many instructions or characters arrived while the
// controller was still busy with the one before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

inline constexpr int display_columns = 40;

struct DisplayView {
  std::string line1;  // always display_columns characters; blanks when the display is off
  std::string line2;
};

struct PortWrite {
  unsigned short port;
  unsigned char value;
  std::int64_t time_nanoseconds;  // monotonic clock
};

DisplayView display_view();
std::uint64_t display_busy_violations();

// The port writes since the last clear_port_writes() (or reset). The log is
// bounded; port_writes_dropped() counts what did not fit.
std::vector<PortWrite> port_writes();
std::uint64_t port_writes_dropped();
void clear_port_writes();

}  // namespace sim
