// Reading qemu's trace of the port writes, and feeding them into the same
// model of the port and display that the emulator runs.
#include "port-replay/replay.h"

#include <cstdlib>
#include <cstring>

namespace port_replay {

namespace {

constexpr char event_name[] = "parallel_ioport_write";

bool hex_after(const std::string &line, const char *label, unsigned int &value) {
  const std::size_t at = line.find(label);
  if (at == std::string::npos) return false;
  const char *start = line.c_str() + at + std::strlen(label);
  char *end = nullptr;
  const unsigned long parsed = std::strtoul(start, &end, 16);
  if (end == start || parsed > 0xFFFF) return false;
  value = static_cast<unsigned int>(parsed);
  return true;
}

// "PID@SECONDS.MICROSECONDS:" in front of the event's name.
bool time_stamp(const std::string &line, std::size_t event_at, std::int64_t &nanoseconds) {
  if (event_at == 0 || line[event_at - 1] != ':') return false;
  const std::size_t at_sign = line.rfind('@', event_at);
  const std::size_t dot = line.find('.', at_sign);
  if (at_sign == std::string::npos || dot == std::string::npos || dot > event_at) return false;
  char *end = nullptr;
  const long long seconds = std::strtoll(line.c_str() + at_sign + 1, &end, 10);
  if (end != line.c_str() + dot) return false;
  const long long microseconds = std::strtoll(line.c_str() + dot + 1, &end, 10);
  if (end != line.c_str() + event_at - 1 || microseconds < 0 || microseconds > 999999) {
    return false;
  }
  nanoseconds = (seconds * 1000000 + microseconds) * 1000;
  return true;
}

}  // namespace

line_kind parse_trace_line(const std::string &line, traced_write &write) {
  const std::size_t event_at = line.find(event_name);
  traced_write parsed;
  if (event_at == std::string::npos || !hex_after(line, " addr 0x", parsed.offset) ||
      !hex_after(line, " val 0x", parsed.value)) {
    return line_kind::other;
  }
  if (!time_stamp(line, event_at, parsed.time_nanoseconds)) return line_kind::untimed_write;
  write = parsed;
  return line_kind::write;
}

replay::replay(std::ostream &out, sim::glass_rom rom)
    : out_(out), port_(rom), last_shown_(port_.screen()) {}

void replay::feed(const traced_write &write, long line_number) {
  if (write.offset == mark_offset) {
    out_ << "@@ step " << write.value << "\n";
    return;
  }
  const std::uint64_t lost_before = busy_violations();
  if (!port_.write(write.offset, static_cast<unsigned char>(write.value), write.time_nanoseconds)) {
    return;
  }
  if (busy_violations() != lost_before) out_ << "!! busy " << line_number << "\n";
  const sim::screen_contents now_shown = port_.screen();
  if (now_shown != last_shown_) {
    out_ << now_shown.whole() << "\n";
    last_shown_ = now_shown;
  }
}

}  // namespace port_replay
