// Digital playback of audio CDs, for drives that cannot play them
// themselves (no analog output, PLAY AUDIO refused): a thread reads the
// sectors of a range through the drive seam (CDROMREADAUDIO, 2352 bytes a
// sector) in small pieces and writes them into the PCM player, and the
// class answers pause, resume, stop and status requests the way a drive
// that plays by itself would.
//
// The thread is paced by the player: it reads the next piece only once the
// last one has been taken, so little audio is in flight and pause or a new
// range is heard at once. A sector that keeps failing to read is played as
// silence; a player that dies is started again; the disc going out ends
// the stream.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <mutex>

#include "util/unique_fd.h"

class digital_player {
 public:
  digital_player() = default;
  ~digital_player();
  digital_player(const digital_player &) = delete;
  digital_player &operator=(const digital_player &) = delete;

  // Plays the sectors from `first` up to, not including, `end` (absolute
  // frames, 75 a second, as in the table of contents) from the drive `fd`.
  // A stream already running moves to the new range at the next sector
  // boundary and keeps its player. 1 when playback runs, 0 when it could
  // not be started.
  int play(int fd, int first, int end);
  // 1 when a stream exists (it may be paused, finished or without its disc).
  int pause();
  int resume();
  // Ends the stream, its thread and the player. Does nothing without one.
  void stop();

  // Whether a stream exists: started and not stopped.
  bool active();
  // The status a drive would report (a CDROM_AUDIO_* code): playing, paused,
  // completed once when the range has been played, no status after that or
  // once the disc went out. `frame` is the frame now sounding.
  int status(int &frame);

 private:
  struct command {
    bool quit = false;
    bool paused = false;
    unsigned generation = 0;
    int drive = -1;
    int first = 0;
    int end = 0;
  };
  enum class progress { playing, completed, idle };

  static void *run(void *self);
  void stream();
  command take_command();
  void wait_for_command(int timeout_milliseconds);
  void report_sounding(unsigned generation, int frame);
  void report(unsigned generation, progress state);

  std::mutex lock_;
  command command_;                  // under lock_
  progress state_ = progress::idle;  // under lock_
  int sounding_ = 0;                 // under lock_
  // eventfd: a new command. The thread uses it too, so it is closed only
  // once the thread has been joined.
  util::unique_fd wake_;
  pthread_t worker_{};
  bool started_ = false;
  pid_t owner_ = 0;  // the process that started the thread
};
