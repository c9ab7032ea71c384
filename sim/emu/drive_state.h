// The emulated CD-ROM drive's state and the pieces of it that the request
// handlers, the tray and the mounts emulator share.
//
// Every process of the program talks to the same drive (the MP3 mode runs in
// a forked child), so the state lives in one MAP_SHARED mapping: plain data of
// fixed size, no pointers, no heap. Time is sim::now_nanoseconds(); nothing
// runs by itself: disc swaps and the end of playback are worked out from the
// clock whenever somebody looks (drive_lock does that on every entry).
#pragma once

#include <limits.h>
#include <linux/cdrom.h>

#include <cstdint>
#include <string>

#include "emu/machine.h"
#include "emu/shared_memory.h"

namespace sim {

inline constexpr int frames_per_second = 75;
inline constexpr int first_track_frame = 2 * frames_per_second;  // 00:02:00
// A TOC header numbers tracks in one byte; an audio disc with more tracks
// than that cannot be presented and keeps only the first ones.
inline constexpr int max_disc_tracks = 255;
inline constexpr int max_unreadable_sectors = 16;
inline constexpr int max_scratches = 16;

// Frames [first, end) never read; a read that touches them fails after
// `milliseconds`.
struct scratch_range {
  int first = 0;
  int end = 0;
  int milliseconds = 0;
};

struct loaded_disc {
  emulated_disc::disc_kind kind = emulated_disc::disc_kind::empty;  // empty: the tray holds no disc
  int index = -1;  // in machine_config().discs; -1: put in by drive_insert
  int tracks = 0;
  int track_start[max_disc_tracks + 1] = {};    // frames; [tracks] is the lead-out
  char folder[PATH_MAX] = {};                   // data: the absolute path of the disc's tree
  int unreadable[max_unreadable_sectors] = {};  // audio: frames that never read
  int unreadable_count = 0;
  scratch_range scratches[max_scratches] = {};  // any track, data tracks too
  int scratch_count = 0;
};

enum class audio_state { idle, playing, paused, completed };

// The drive's options as the Linux CD-ROM layer starts them: close an open
// tray on a blocking open, honour O_NONBLOCK, lock the door while open.
inline constexpr int default_drive_options = CDO_AUTO_CLOSE | CDO_USE_FFLAGS | CDO_LOCK;

// Everything but the lock, so that a reset can start from a fresh value.
struct drive_state {
  loaded_disc disc;
  std::uint64_t media = 1;  // changes whenever a disc goes in or out
  int sequence = -1;        // the last of machine_config().discs that went in
  bool swap_pending = false;
  std::int64_t swap_at = 0;  // when discs[sequence + 1] goes in
  bool mounted = false;
  int ejects = 0;
  // After an eject the tray stands open with the disc in it until the
  // person at the drive swaps discs; a blocking open with CDO_AUTO_CLOSE
  // set closes the tray on that same disc.
  bool tray_open = false;
  loaded_disc tray;
  int options = default_drive_options;
  bool door_locked = false;

  // Reading (drive_timing.cpp).
  int selected_speed = 0;            // CDROM_SELECT_SPEED: 0 the drive's top speed
  std::int64_t next_stall_at = 0;    // wall clock: the stall due from then on; 0: none
  int asked_stall_milliseconds = 0;  // a stall a test asked for, on the next audio read
  bool stalling = false;             // a read is stalling now
  bool stall_cut = false;            // the stall in progress is to end now
  bool scratching = false;           // a read over a scratch is failing now
  int read_end = 0;                  // the frame after the last audio sector read

  audio_state audio = audio_state::idle;
  int play_start = 0;           // frames of the last accepted play request
  int play_end = 0;             // exclusive: the play stops when it reaches this frame
  int position = 0;             // where the head stands while not playing
  std::int64_t resumed_at = 0;  // while playing: position + elapsed since then
};

// Holds the drive's lock and brings the tray and the audio status up to the
// emulated time first.
class drive_lock {
 public:
  drive_lock();
  ~drive_lock();
  drive_lock(const drive_lock &) = delete;
  drive_lock &operator=(const drive_lock &) = delete;
  drive_state &state() { return state_; }
  std::int64_t now() const { return now_; }
  // Lets go of the lock until notified or the monotonic clock (wall time,
  // not the emulated clock) reaches `deadline`, then brings the state up to
  // date again. Wakes may come early: callers look again.
  void wait_until(std::int64_t deadline);
  void notify_all();

 private:
  drive_state &state_;
  std::int64_t now_;
};

// The drive's command channel: one request at a time, held for the whole
// request including the time a read takes, as the kernel's lock on each CD
// drive serialises its requests. Taken before the drive_lock, never inside it.
class drive_command {
 public:
  drive_command();
  ~drive_command();
  drive_command(const drive_command &) = delete;
  drive_command &operator=(const drive_command &) = delete;
};

// Tray (drive_tray.cpp). Each takes the state under its lock.
void load_disc(drive_state &state, const emulated_disc &disc, int index);
void unload_disc(drive_state &state);
// The EJECT request: 0, or the errno the drive answers.
int eject_disc(drive_state &state, std::int64_t now);
// What opening the device does to an open tray: with CDO_AUTO_CLOSE the
// drive pulls it in, and the disc lying in it is in the drive again.
void auto_close_tray(drive_state &state);

// Playback (drive_audio.cpp).
int head_position(const drive_state &state, std::int64_t now);
int track_at(const loaded_disc &disc, int frame);
void settle_audio(drive_state &state, std::int64_t now);
// Requests that move the audio; each returns 0 or the errno the drive answers.
int start_play(drive_state &state, int start, int end, std::int64_t now);
int pause_play(drive_state &state, std::int64_t now);
int resume_play(drive_state &state, std::int64_t now);
void stop_play(drive_state &state, std::int64_t now);

// The raw audio of one sector of an audio disc (drive_sectors.cpp): its
// stamp, then its track's music; the analog output plays the same.
void fill_audio_sector(const loaded_disc &disc, int frame, std::uint8_t *sector);
// CDROMREADAUDIO (drive_sectors.cpp): 0, or the errno the drive answers.
int read_audio_sectors(const loaded_disc &disc, cdrom_read_audio &request, std::string &detail);
// The first frame a read request asks for (absolute frames).
int request_first_frame(const cdrom_read_audio &request);
// The scratch the frames [first, first + count) touch, or nullptr.
const scratch_range *scratch_under(const loaded_disc &disc, int first, int count);

// Reading time (drive_timing.cpp). A read of sectors takes the time the
// drive needs at its speed, and a stall when one is due; the lock is let go
// meanwhile, the command channel is not.
void take_read_time(drive_lock &lock, const cdrom_read_audio &request);
// CDROM_SELECT_SPEED: 0, or the errno the drive answers.
int select_speed(drive_state &state, unsigned long speed);
// An audio CD went in: the stalls of --drive-stall count from now.
void start_stall_clock(drive_state &state);
// The data disc behind a mount of the drive (mounts.cpp asks). On success
// returns 0, gives the disc's folder and keeps the disc from being ejected
// until drive_release_mount(); otherwise returns the errno a mount meets.
int drive_claim_mount(std::string &folder);
void drive_release_mount();

// One line for the drive log, when the machine has one.
void log_drive_line(const std::string &line);
std::string msf_text(int frames);

}  // namespace sim
