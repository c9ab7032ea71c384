// The emulated first parallel port with the HD44780 display on its cable:
// the platform's port calls, the decoding of the control register into the
// display's pins, the port-write log and the notices that the display
// changed. Its state lives in a shared mapping, since the MP3 mode's child
// process writes the same display.
//
// The wiring itself is named in display_cable.h.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "ctl/console_text.h"
#include "emu/display.h"
#include "emu/display_cable.h"
#include "emu/hd44780.h"
#include "emu/machine.h"
#include "emu/shared_memory.h"
#include "platform/platform.h"
#include "util/clock.h"
#include "util/unique_fd.h"

namespace sim {

namespace {

constexpr unsigned short data_port = 888;
constexpr unsigned short status_port = data_port + 1;
constexpr unsigned short control_port = data_port + 2;

constexpr unsigned char power_on_control = 0xC0;  // E low, R/W high: the display idles
constexpr unsigned char idle_status = 0x7F;

constexpr std::size_t log_capacity = 1 << 16;

struct PortState {
  SharedMutex mutex;
  Hd44780 controller;
  unsigned char data_register = 0;
  unsigned char control_register = power_on_control;
  bool access_refused = false;
  std::size_t log_size = 0;
  std::uint64_t log_dropped = 0;
  PortWrite log[log_capacity];
};

PortState &state() {
  static PortState *shared = make_shared_object<PortState>();
  return *shared;
}

Hd44780Pins pins_of(const PortState &port) {
  return display_pins(port.data_register, port.control_register);
}

// "|line 1|line 2|\n", the form of one display log line.
using ScreenText = char[2 * display_columns + 4];

void render(const Hd44780 &controller, ScreenText &text) {
  char line[Hd44780::columns];
  text[0] = '|';
  controller.shown_line(1, line);
  std::memcpy(text + 1, line, display_columns);
  text[display_columns + 1] = '|';
  controller.shown_line(2, line);
  std::memcpy(text + display_columns + 2, line, display_columns);
  text[2 * display_columns + 2] = '|';
  text[2 * display_columns + 3] = '\n';
}

// Once per process: a broken log must not flood stderr.
void report_once(const char *what) {
  static bool reported = false;
  if (reported) return;
  reported = true;
  std::fprintf(stderr, "emulator: %s: %s\n", what, std::strerror(errno));
}

bool write_whole(int fd, const void *bytes, std::size_t size) {
  ssize_t written;
  do {
    written = write(fd, bytes, size);
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(size);
}

// The log's record of a screen: what the display shows may come from a
// disc's names, so control bytes are written as escapes and a record is
// always one line.
std::string log_record(const ScreenText &text) {
  const std::string_view line1(text + 1, display_columns);
  const std::string_view line2(text + display_columns + 2, display_columns);
  std::string record(1, '|');
  record += console_escape(line1);
  record += '|';
  record += console_escape(line2);
  record += "|\n";
  return record;
}

// Several processes append, so each line goes out in one write on O_APPEND.
void announce(const ScreenText &text) {
  const MachineConfig &config = machine_config();
  if (!config.display_log.empty()) {
    const char *path = config.display_log.c_str();
    const std::string record = log_record(text);
    const util::unique_fd log(open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!log || !write_whole(log.get(), record.data(), record.size())) report_once(path);
  }
  if (config.display_event_fd >= 0) {
    const std::uint64_t one = 1;
    if (!write_whole(config.display_event_fd, &one, sizeof one)) report_once("display event");
  }
}

}  // namespace

void reset_display_emulator() {
  PortState &port = state();
  std::lock_guard lock(port.mutex);
  port.controller.reset();
  port.data_register = 0;
  port.control_register = power_on_control;
  port.controller.drive(pins_of(port), util::monotonic_ns());
  port.access_refused = false;
  port.log_size = 0;
  port.log_dropped = 0;
}

DisplayView display_view() {
  PortState &port = state();
  std::lock_guard lock(port.mutex);
  char line[Hd44780::columns];
  DisplayView view;
  port.controller.shown_line(1, line);
  view.line1.assign(line, display_columns);
  port.controller.shown_line(2, line);
  view.line2.assign(line, display_columns);
  return view;
}

std::uint64_t display_busy_violations() {
  PortState &port = state();
  std::lock_guard lock(port.mutex);
  return port.controller.busy_violations();
}

std::vector<PortWrite> port_writes() {
  PortState &port = state();
  std::lock_guard lock(port.mutex);
  return std::vector<PortWrite>(port.log, port.log + port.log_size);
}

std::uint64_t port_writes_dropped() {
  PortState &port = state();
  std::lock_guard lock(port.mutex);
  return port.log_dropped;
}

void clear_port_writes() {
  PortState &port = state();
  std::lock_guard lock(port.mutex);
  port.log_size = 0;
  port.log_dropped = 0;
}

void refuse_port_access(bool refused) {
  PortState &port = state();
  std::lock_guard lock(port.mutex);
  port.access_refused = refused;
}

}  // namespace sim

namespace platform {

int request_port_access() {
  sim::PortState &port = sim::state();
  std::lock_guard lock(port.mutex);
  if (!port.access_refused) return 0;
  errno = EPERM;
  return -1;
}

void port_write(unsigned short port_number, unsigned char value) {
  sim::PortState &port = sim::state();
  std::lock_guard lock(port.mutex);
  const std::int64_t now = util::monotonic_ns();
  if (port.log_size < sim::log_capacity) {
    port.log[port.log_size++] = sim::PortWrite{port_number, value, now};
  } else {
    ++port.log_dropped;
  }
  if (port_number == sim::data_port) {
    port.data_register = value;
  } else if (port_number == sim::control_port) {
    port.control_register = value;
  } else {
    return;
  }
  sim::ScreenText before, after;
  sim::render(port.controller, before);
  port.controller.drive(sim::pins_of(port), now);
  sim::render(port.controller, after);
  if (std::memcmp(before, after, sizeof after) != 0) sim::announce(after);
}

unsigned char port_read(unsigned short port_number) {
  sim::PortState &port = sim::state();
  std::lock_guard lock(port.mutex);
  switch (port_number) {
    case sim::data_port:
      if (!(port.control_register & sim::direction_bit)) return port.data_register;
      if (port.controller.drives_data_lines()) {
        return port.controller.data_lines_output(util::monotonic_ns());
      }
      return sim::floating_lines;
    case sim::status_port:
      return sim::idle_status;
    case sim::control_port:
      return port.control_register;
    default:
      return sim::floating_lines;
  }
}

}  // namespace platform
