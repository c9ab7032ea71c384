// The emulated machine as a whole: its configuration, its reset and its
// clock, whose offset lives in a shared mapping so that every process of
// the player sees the same emulated time.
#include "emu/machine.h"

#include <atomic>

#include "emu/shared_memory.h"
#include "util/clock.h"

namespace sim {

namespace {
std::atomic<std::int64_t> *clock_offset() {
  static auto *offset = make_shared_object<std::atomic<std::int64_t>>();
  return offset;
}
}  // namespace

// Never destroyed: the player's own statics (the drive controller, the
// port's descriptor) close their devices when the process exits, and may be
// destroyed after anything made here.
machine_configuration &machine_config() {
  static auto &config = *new machine_configuration;
  return config;
}

void reset_machine() {
  clock_offset()->store(0);
  reset_display_emulator();
  reset_drive_emulator();
  reset_mounts_emulator();
}

std::int64_t now_nanoseconds() { return util::monotonic_ns() + clock_offset()->load(); }

void advance_clock(std::int64_t nanoseconds) { clock_offset()->fetch_add(nanoseconds); }

}  // namespace sim
