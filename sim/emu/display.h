// What the emulated parallel port and HD44780 display show, for the
// simulator and for tests: the two lines as a person sees them, the
// patterns in the character generator, the log of port writes, and how
// many instructions or characters arrived while the controller was still
// busy with the one before (and so were lost).
//
// The emulated port sits at 888 (data), 889 (status) and 890 (control).
// What port_read() returns there:
//   data (888)    with the direction bit (control bit 5) clear, the port
//                 drives D0-D7 itself and reads back the last byte written
//                 to it, whatever the display does; with the bit set, what
//                 the display drives (R/W high and E high: its busy flag and
//                 address, or a display RAM byte), else 0xFF (lines float high).
//   status (889)  0x7F: nothing is wired to the status lines; they float
//                 high, and the port inverts bit 7 (Busy).
//   control (890) the last value written.
//   elsewhere     0xFF, as an empty I/O address reads.
// Writes to the status register and to other ports are logged and ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

inline constexpr int display_columns = 40;

// The two lines as a person reads them on the glass of the module, A00 or
// A02 (glass.h): display_columns cells each, in UTF-8; blanks when the display
// is off.
struct display_snapshot {
  std::string line1;
  std::string line2;
};

struct logged_write {
  unsigned short port;
  unsigned char value;
  std::int64_t time_nanoseconds;  // monotonic clock
};

display_snapshot display_view();
// The eight character-generator slots, drawn with the letter each draws
// (pattern_drawing() in glass.h).
std::string display_patterns();
std::uint64_t display_busy_violations();

// The port writes since the last clear_port_writes() (or reset). The log is
// bounded; port_writes_dropped() counts what did not fit.
std::vector<logged_write> port_writes();
std::uint64_t port_writes_dropped();
void clear_port_writes();

// Makes platform::request_port_access() fail with EPERM, as iopl(3) does
// for a process without the privilege, until the next reset. Port writes
// still reach the display: only the reported result changes.
void refuse_port_access(bool refused);

}  // namespace sim
