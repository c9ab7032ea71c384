// How long the emulated drive takes to read, so that the player meets the
// drive a real one is: a read of N sectors takes N / (75 x speed) seconds
// at the speed the player selected (or the drive's top speed), and now and
// then a read stalls for a long time, as a drive retrying a scratch or a USB
// drive spinning up again does.
//
// Reading time is wall-clock time, never the emulated clock that tests push
// forward. The read waits with the drive's lock let go (the front panel and
// tests still look at the drive), but the command channel stays held, so
// every other request waits for the read, as on a real drive.
#include <linux/cdrom.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "emu/drive_state.h"
#include "util/clock.h"

namespace sim {

namespace {

// The drive's top reading speed, in multiples of 1x (75 sectors a second),
// a typical 24x: a read of N sectors takes N / (75 x speed) seconds at the
// speed CDROM_SELECT_SPEED chose, or at this one.
constexpr int top_speed = 24;

// The speed a read runs at, in multiples of 1x.
int reading_speed(const drive_state &state) {
  return state.selected_speed > 0 ? std::min(state.selected_speed, top_speed) : top_speed;
}

std::int64_t stall_period() { return std::llround(machine_config().stall_every_seconds * 1e9); }

// The stall, in milliseconds, that a read starting at `now` meets: the one
// a test asked for, and the periodic one when it is due. Stall points that
// passed while nothing was read (a long pause) make one stall, not several.
int due_stall(drive_state &state, std::int64_t now) {
  int stall = state.asked_stall_milliseconds;
  state.asked_stall_milliseconds = 0;
  const std::int64_t period = stall_period();
  if (state.next_stall_at != 0 && period > 0 && now >= state.next_stall_at) {
    stall += machine_config().stall_milliseconds;
    state.next_stall_at += ((now - state.next_stall_at) / period + 1) * period;
  }
  return stall;
}

}  // namespace

void start_stall_clock(drive_state &state) {
  const bool stalls = machine_config().stall_milliseconds > 0 && stall_period() > 0;
  state.next_stall_at = 0;
  if (stalls && state.disc.kind == emulated_disc::disc_kind::audio) {
    state.next_stall_at = util::monotonic_ns() + stall_period();
  }
}

int select_speed(drive_state &state, unsigned long speed) {
  // The drive settles on the nearest speed it has; asking more than its top
  // speed gets the top speed.
  state.selected_speed = static_cast<int>(std::min<unsigned long>(speed, 0xFFFF));
  return 0;
}

void take_read_time(drive_lock &lock, const cdrom_read_audio &request) {
  // Requests the kernel refuses never reach the drive.
  if (request.nframes < 1 || request.nframes > CD_FRAMES || request.buf == nullptr) return;
  drive_state &state = lock.state();
  const std::int64_t start = util::monotonic_ns();
  const std::int64_t duration =
      std::int64_t{request.nframes} * 1000000000 / (frames_per_second * reading_speed(state));
  int stall = 0;
  if (state.disc.kind == emulated_disc::disc_kind::audio) stall = due_stall(state, start);
  // A read over a scratch takes the drive's own retries, whatever its size,
  // before it fails; a stall due now comes on top.
  std::int64_t reading = duration;
  const int first = request_first_frame(request);
  if (const scratch_range *scratch = scratch_under(state.disc, first, request.nframes)) {
    reading = std::int64_t{scratch->milliseconds} * 1000000;
    state.scratching = true;
  }
  if (stall > 0) {
    log_drive_line("STALL " + std::to_string(stall) + " ms");
    state.stalling = true;
    state.stall_cut = false;
  }
  const std::int64_t deadline = start + reading + std::int64_t{stall} * 1000000;
  while (util::monotonic_ns() < deadline && !state.stall_cut) lock.wait_until(deadline);
  state.stalling = false;
  state.stall_cut = false;
  state.scratching = false;
}

}  // namespace sim
