// The emulated CD-ROM drive, for the simulator and for tests: what is in the
// tray, what the drive is playing, and the requests it received.
#pragma once

#include <string>

#include "emu/machine.h"

namespace sim {

struct DriveView {
  bool disc_present = false;
  Disc::Kind kind = Disc::Kind::empty;
  int disc_index = -1;   // index into machine_config().discs, -1: none
  bool playing = false;  // audio playing (not paused, not past the end)
  bool paused = false;
  int play_start_frame = 0;  // absolute frames (75 a second) of the last PLAYMSF
  int play_end_frame = 0;
  int ejects = 0;          // ejects since reset
  bool tray_open = false;  // ejected, the disc not yet swapped
};

DriveView drive_view();

// Puts `disc` into the drive now (test convenience; the simulator swaps
// discs by itself after each eject).
void drive_insert(const Disc &disc);
void drive_remove();

}  // namespace sim
