// The emulated CD-ROM drive, for the simulator and for tests: what is in the
// tray, what the drive is playing, and the requests it received.
#pragma once

#include <cstdint>
#include <string>

#include "emu/machine.h"

namespace sim {

struct drive_snapshot {
  bool disc_present = false;
  emulated_disc::disc_kind kind = emulated_disc::disc_kind::empty;
  int disc_index = -1;   // index into machine_config().discs, -1: none
  bool playing = false;  // audio playing (not paused, not past the end)
  bool paused = false;
  int play_start_frame = 0;  // absolute frames (75 a second) of the last PLAYMSF
  int play_end_frame = 0;
  int ejects = 0;          // ejects since reset
  bool tray_open = false;  // ejected, the disc not yet swapped
  bool mounted = false;    // the data disc is mounted
  // What the front of a drive shows: the disc's track count, the track under
  // the head and how far into it the head stands (frames, 75 a second).
  int tracks = 0;
  int track = 0;
  int track_frame = 0;
  // Reading: a read stalls now; where the last audio read ended (absolute
  // frames); the speed the player asked for (0: the drive's top speed).
  bool stalling = false;
  bool scratching = false;  // a read over a scratch takes its time to fail
  int read_end_frame = 0;
  int selected_speed = 0;
};

drive_snapshot drive_view();

// Puts `disc` into the drive now (test convenience; the simulator swaps
// discs by itself after each eject).
void drive_insert(const emulated_disc &disc);
void drive_remove();

// A scratch under the head, for tests: the next audio read takes
// `milliseconds` longer, or until drive_end_stall().
void drive_stall_next_read(int milliseconds);
// Ends the stall in progress now, and forgets one asked for and not begun.
void drive_end_stall();

// The drive's analog audio output. `next` is the absolute frame of the next
// sector to put out (any value at first: it follows the head).
enum class analog_step {
  silent,  // the drive plays nothing (or has no analog output)
  ahead,   // the output is as far ahead of the head as it goes: look again soon
  sector,  // `sector` holds the next 2352 bytes of raw CD audio
};
analog_step next_analog_sector(int &next, std::uint8_t *sector);

}  // namespace sim
