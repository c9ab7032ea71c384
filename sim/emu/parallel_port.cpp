// The emulated first parallel port with the HD44780 display on its cable:
// the platform's port calls, the port-write log and the notices that the
// display changed. Its state lives in a shared mapping, since the MP3 mode's
// child process writes the same display.
//
// The registers, the controller behind them and the screen are modelled in
// display_port.h; the wiring itself is named in display_cable.h.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "emu/display.h"
#include "emu/display_port.h"
#include "emu/glass.h"
#include "emu/machine.h"
#include "emu/port_registers.h"
#include "emu/shared_memory.h"
#include "platform/platform.h"
#include "util/clock.h"
#include "util/unique_fd.h"

namespace sim {

namespace {

static_assert(display_columns == hd44780::columns);

constexpr std::size_t log_capacity = 1 << 16;

struct port_state {
  process_mutex mutex;
  display_port display;
  bool access_refused = false;
  // The slots as last written to the patterns log.
  character_generator_ram logged_patterns{};
  bool patterns_logged = false;
  std::size_t log_size = 0;
  std::uint64_t log_dropped = 0;
  logged_write log[log_capacity];
};

port_state &state() {
  static port_state *shared = make_shared_object<port_state>();
  return *shared;
}

// Port numbers below the base land beyond the model's registers too.
unsigned int offset_of(unsigned short port_number) {
  return port_number >= base_port ? port_number - base_port : ~0u;
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

// Several processes append, so each record goes out in one write on
// O_APPEND.
void append_to(const std::string &path, const std::string &text) {
  const util::unique_fd log(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!log || !write_whole(log.get(), text.data(), text.size())) report_once(path.c_str());
}

// The display log gets the glass, one record a line: every cell is a
// printable glyph, whatever bytes a disc's names put in display RAM. The
// patterns log gets the eight slots with each record that follows a
// change of them.
void announce(port_state &port, const screen_contents &screen) {
  const machine_configuration &config = machine_config();
  if (!config.display_log.empty()) append_to(config.display_log, screen.whole() + "\n");
  if (!config.patterns_log.empty() &&
      (!port.patterns_logged || port.logged_patterns != screen.generator_ram)) {
    append_to(config.patterns_log, pattern_drawing(screen.generator_ram) + "\n");
    port.logged_patterns = screen.generator_ram;
    port.patterns_logged = true;
  }
  if (config.display_event_fd >= 0) {
    const std::uint64_t one = 1;
    if (!write_whole(config.display_event_fd, &one, sizeof one)) report_once("display event");
  }
}

}  // namespace

void reset_display_emulator() {
  reset_parport_device();
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  port.display = display_port(machine_config().lcd_rom);
  port.display.power_on(util::monotonic_ns());
  port.access_refused = false;
  port.patterns_logged = false;
  port.log_size = 0;
  port.log_dropped = 0;
}

display_snapshot display_view() {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  const screen_contents screen = port.display.screen();
  return display_snapshot{screen.line(1), screen.line(2)};
}

std::string display_patterns() {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  return pattern_drawing(port.display.controller().generator_ram());
}

std::uint64_t display_busy_violations() {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  return port.display.controller().busy_violations();
}

std::vector<logged_write> port_writes() {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  return std::vector<logged_write>(port.log, port.log + port.log_size);
}

std::uint64_t port_writes_dropped() {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  return port.log_dropped;
}

void clear_port_writes() {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  port.log_size = 0;
  port.log_dropped = 0;
}

void refuse_port_access(bool refused) {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  port.access_refused = refused;
}

}  // namespace sim

namespace sim {

void write_port(unsigned short port_number, unsigned char value) {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  const std::int64_t now = util::monotonic_ns();
  if (port.log_size < log_capacity) {
    port.log[port.log_size++] = logged_write{port_number, value, now};
  } else {
    ++port.log_dropped;
  }
  const screen_contents before = port.display.screen();
  if (!port.display.write(offset_of(port_number), value, now)) return;
  const screen_contents after = port.display.screen();
  if (after != before) announce(port, after);
}

unsigned char read_port(unsigned short port_number) {
  port_state &port = state();
  std::lock_guard lock(port.mutex);
  return port.display.read(offset_of(port_number), util::monotonic_ns());
}

}  // namespace sim

namespace platform {

int request_port_access() {
  sim::port_state &port = sim::state();
  std::lock_guard lock(port.mutex);
  if (!port.access_refused) return 0;
  errno = EPERM;
  return -1;
}

void port_write(unsigned short port_number, unsigned char value) {
  sim::write_port(port_number, value);
}

unsigned char port_read(unsigned short port_number) { return sim::read_port(port_number); }

}  // namespace platform
