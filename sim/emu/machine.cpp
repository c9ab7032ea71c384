#include "emu/machine.h"

#include <time.h>

#include <atomic>

#include "emu/shared_memory.h"

namespace sim {

namespace {
std::atomic<std::int64_t> *clock_offset() {
  static auto *offset = make_shared_object<std::atomic<std::int64_t>>();
  return offset;
}
}  // namespace

MachineConfig &machine_config() {
  static MachineConfig config;
  return config;
}

void reset_machine() {
  clock_offset()->store(0);
  reset_display_emulator();
  reset_drive_emulator();
  reset_mounts_emulator();
}

std::int64_t now_nanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec + clock_offset()->load();
}

void advance_clock(std::int64_t nanoseconds) { clock_offset()->fetch_add(nanoseconds); }

}  // namespace sim
