// The emulated machine as a whole: what is in it (the discs, the floppy),
// where its logs go, and the reset that puts every emulator into its start
// state. discbox-sim fills the configuration from its command line; tests
// fill it directly. It is set before the first fork and only read after.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "emu/glass.h"

namespace sim {

struct emulated_disc {
  enum class disc_kind { audio, data, blank, empty };
  disc_kind kind = disc_kind::empty;
  std::vector<int> track_seconds;  // audio: the length of each track
  std::string folder;              // data: the folder that is the disc's ISO 9660 tree
  // audio: sectors that never read, as (track, sector within the track)
  std::vector<std::pair<int, int>> unreadable_sectors = {};
};

struct machine_configuration {
  std::vector<emulated_disc> discs;  // discs[0] is in the drive at start
  double swap_delay_seconds = 2.0;   // from an eject to the next disc going in
  std::string display_log;           // empty: none
  std::string patterns_log;          // empty: none
  std::string drive_log;             // empty: none
  int display_event_fd = -1;         // written (8 bytes) whenever what the display shows changes
  std::string floppy_folder;         // empty: no floppy in the floppy drive
  std::string cdrom_mount_point;     // a path the mounts emulator makes into a link to the disc
  std::string floppy_mount_point;    // the same for the floppy
  std::string decoder = "/bin/mpg123";
  std::string pcm_player = "/usr/bin/aplay";  // the program raw CD audio is played through
  // A drive that reads discs but neither plays audio nor reports audio
  // status (play, pause, resume and the status request fail with
  // EOPNOTSUPP, whether a disc is in or not), and that refuses to eject,
  // answering a positive value, until its door is unlocked outright; qemu's
  // IDE CD-ROM drive under Linux behaves so.
  bool data_only_drive = false;
  // A drive without analog audio output (USB, most SATA and laptop drives):
  // it refuses to play audio tracks (EOPNOTSUPP) and reports no audio status,
  // but reads audio sectors digitally like every drive.
  bool no_analog_audio = false;
  // The kernel's parallel port driver's device for the display's port,
  // /dev/parport0: not there (no ppdev, or the port's driver kept off the
  // port), there for the player to claim, there with another driver (the
  // printer driver lp) registered on the port, or there but not for the
  // player to open (not in group lp).
  enum class parport_state { absent, claimable, held, forbidden };
  parport_state parport = parport_state::absent;
  // A scratch or a re-spin: the first audio read after every
  // `stall_every_seconds` seconds of wall-clock time while an audio CD is in
  // takes `stall_milliseconds` longer. 0: never.
  int stall_milliseconds = 0;
  double stall_every_seconds = 0;
  // Scratches: the sectors of `track` from `from_seconds` to `to_seconds`
  // into it never read, and every read that touches one of them takes
  // `milliseconds` before it fails, as a drive retrying inside itself does.
  struct scratch {
    int track = 1;
    double from_seconds = 0;
    double to_seconds = 0;
    int milliseconds = 0;
  };
  std::vector<scratch> scratches;
  // The display module's character ROM: what its glass shows for a code.
  glass_rom lcd_rom = glass_rom::a00;
};

machine_configuration &machine_config();

// Puts every emulator into its start state from machine_config(): display
// off and blank, drive holding discs[0], nothing mounted, clock offset 0.
// Makes the shared mappings, so call it before the first fork.
void reset_machine();

// The emulated time (drive playback, disc swaps): the monotonic clock plus
// an offset that tests can push forward to make a track end without waiting.
std::int64_t now_nanoseconds();
void advance_clock(std::int64_t nanoseconds);

// Each emulator's own reset, called by reset_machine().
void reset_display_emulator();
void reset_drive_emulator();
void reset_mounts_emulator();

}  // namespace sim
