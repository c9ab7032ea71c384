// Digital playback of audio CDs, for drives that cannot play them
// themselves (no analog output, PLAY AUDIO refused): the sectors of a range
// are read through the drive seam (CDROMREADAUDIO, 2352 bytes a sector) and
// written into the PCM player, and the class answers pause, resume, stop and
// status requests the way a drive that plays by itself would.
//
// Two threads, so that a slow read is never heard. The reader keeps up to
// read_ahead_seconds of audio read ahead in a buffer the class owns: a real
// drive takes one to several seconds now and then (a scratch it retries, a
// USB drive spinning up again), and the buffer plays on meanwhile. The
// writer hands the buffer to the player piece by piece, paced by the
// player's pipe, so little audio waits where it cannot be taken back.
//
// A new range drops what was read ahead at once (the player still plays what
// it holds, about 0.2 s); pause keeps it, so resume sounds at once. A scratch
// (sectors that fail, each read of them taking the drive's retries, up to
// seconds) is stepped over rather than read sector by sector, and played as
// silence in its place; a player that dies is started again; the disc going
// out ends the stream.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "util/unique_fd.h"

class digital_player {
 public:
  // Eight seconds: enough to play through the longest stall worth hiding
  // (a few seconds) and to refill in under three seconds at 4x. Its size
  // costs no key response, since keys drop it; the reader's small requests
  // are what a new range waits for.
  static constexpr int read_ahead_seconds = 8;

  digital_player() = default;
  ~digital_player();
  digital_player(const digital_player &) = delete;
  digital_player &operator=(const digital_player &) = delete;

  // Plays the sectors from `first` up to, not including, `end` (absolute
  // frames, 75 a second, as in the table of contents) from the drive `fd`.
  // A stream already running moves to the new range at the next sector
  // boundary and keeps its player; a cued stream from the same `first` is
  // played on with what it read ahead. 1 when playback runs, 0 when it could
  // not be started.
  int play(int fd, int first, int end);
  // As play, but only reads ahead: nothing sounds until a play from the
  // same `first`, or a resume.
  int cue(int fd, int first, int end);
  // 1 when a stream exists (it may be paused, finished or without its disc).
  int pause();
  int resume();
  // Ends the stream, its threads and the player; what was read ahead goes.
  // Does nothing without one.
  void stop();

  // Whether a stream exists: started and not stopped.
  bool active();
  // Whether a range is under way (playing, paused or cued): its status is
  // the stream's, and the drive may be busy with a read for it.
  bool streaming();
  // The status a drive would report (a CDROM_AUDIO_* code): playing, paused,
  // completed once when the range has been played, no status after that or
  // once the disc went out. `frame` is the frame now sounding.
  int status(int &frame);

 private:
  struct command {
    bool quit = false;
    bool paused = false;
    bool cued = false;  // read ahead only
    unsigned generation = 0;
    int drive = -1;
    int first = 0;
    int end = 0;
  };
  enum class progress { playing, completed, idle };
  enum class read_outcome { read, failed, stale };
  // The way over a scratch (digital_read_ahead.cpp): frames from `begin` up
  // to `silent_to` are silence; `good` is the first frame after them known
  // to read (-1: none yet), `step` the next step ahead while none is.
  struct scratch_search {
    unsigned generation = 0;  // of the range it belongs to
    bool active = false;
    int begin = 0;
    int tentative_to = 0;  // [begin, tentative_to): the failed piece, maybe partly good
    bool start_found = false;
    int silent_to = 0;
    int good = -1;
    int step = 0;
    std::int64_t failing_ns = 0;  // the longest failing read met on it
    std::int64_t started_ns = 0;  // when the read that met it began
    int ahead = 0;                // sectors buffered then, and all kept since
  };

  int start(int fd, int first, int end, bool cued);
  bool start_threads();
  void wake_writer();
  void command_changed();

  // The reader thread (digital_read_ahead.cpp).
  static void *run_reader(void *self);
  void read_ahead();
  bool wants_read() const;
  void keep(const std::uint8_t *sectors, int count);
  void keep_silence(int count);
  read_outcome read_unlocked(std::unique_lock<std::mutex> &hold, int frame, int count,
                             std::uint8_t *into, std::int64_t &took);
  void lose_disc();
  bool scratch_affordable(int reads, int gain) const;
  void step_over_scratch(std::unique_lock<std::mutex> &hold);
  void settle_piece(std::unique_lock<std::mutex> &hold);
  bool find_scratch_start(std::unique_lock<std::mutex> &hold);
  void finish_scratch(std::unique_lock<std::mutex> &hold);
  int take(std::uint8_t *into, int most);

  // The writer thread (digital_stream.cpp).
  static void *run_writer(void *self);
  void stream();
  void wait_for_command(int timeout_milliseconds);
  void report_sounding(unsigned generation, int frame);

  std::mutex lock_;
  command command_;                  // under lock_
  progress state_ = progress::idle;  // under lock_
  int sounding_ = 0;                 // under lock_
  // The read-ahead buffer: a ring of sectors, the frames from
  // buffered_first_ on, oldest at slot buffer_head_. Under lock_; made by
  // the first play, before the threads start.
  std::vector<std::uint8_t> buffer_;
  int buffer_head_ = 0;     // under lock_
  int buffered_count_ = 0;  // under lock_
  int buffered_first_ = 0;  // under lock_
  int next_read_ = 0;       // under lock_: the frame the reader reads next
  bool disc_gone_ = false;  // under lock_: a read found no disc
  scratch_search scratch_;  // under lock_; the reader's own
  // The reader waits on it (with lock_) for room or a new command.
  std::condition_variable reader_wake_;
  // eventfd: wakes the writer (a command, or audio read). Both threads use
  // it, so it is closed only once they have been joined.
  util::unique_fd wake_;
  pthread_t reader_{};  // main thread only, like the fields below
  pthread_t writer_{};
  bool started_ = false;
  pid_t owner_ = 0;  // the process that started the threads
};
