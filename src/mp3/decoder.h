// The decoder process: the external decoder executed as a child of the MP3
// mode, reading whole MPEG frames from a frame pipe on its standard input.
// A decoder that ends while the mode runs is reaped and replaced on a new
// frame pipe (see frame_pipe.h), whose write end the writer takes over.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "util/child_process.h"
#include "util/unique_fd.h"

// The decoder's buffer in kilobytes: its "-b" argument, also reported when
// the mode starts.
inline constexpr char decoder_buffer_kilobytes[] = "2048";

class decoder_process {
 public:
  decoder_process();
  ~decoder_process() { end(); }
  decoder_process(const decoder_process &) = delete;
  decoder_process &operator=(const decoder_process &) = delete;

  // Starts the decoder on `input`, the read end of the mode's frame pipe,
  // which from then on only the decoder holds, and the watch that replaces
  // it when it ends. Until the decoder is ended, an error exit of the mode
  // ends it first. When no process can be made the mode ends (status -1).
  void start(util::unique_fd input);

  // The running decoder's process id; 0 before the start and once it has
  // ended and been reaped.
  pid_t pid();

  // For the writer: the write end of a replacement's pipe, not yet taken;
  // empty when there is none.
  util::unique_fd take_pipe();
  // For the writer, after its pipe broke: waits until a replacement has
  // started and returns its pipe's write end; empty once the decoder is
  // being ended or the writer was released.
  util::unique_fd await_pipe();
  void release_writer();

  // No decoder is started after this, and one that ends is no longer
  // reported: leaving the mode closes the frame pipe before it ends the
  // decoder, and a decoder that ends at the end of its input then is no
  // failure.
  void stop_replacing();
  // Ends the decoder: SIGTERM, and SIGKILL when it is still there a second
  // later (a decoder stuck in its audio output ignores SIGTERM); then reaps
  // it. Does nothing when none runs. Safe from any thread.
  void end();
  // The two halves of end(), for a caller that reports in between.
  void signal_end();
  void await_end();

 private:
  using steady = std::chrono::steady_clock;

  void fork_decoder(util::unique_fd input, std::unique_lock<std::mutex> &hold);
  void replace(std::unique_lock<std::mutex> &hold);
  [[noreturn]] void fail(std::unique_lock<std::mutex> &hold, const char *text, int status);
  static void *watch(void *self);
  static void end_at_mode_exit(void *self);

  std::mutex lock_;
  std::condition_variable changed_;  // the decoder or a pipe changed
  util::child_process process_;      // under lock_; reaped by the watch
  pid_t mpg_pid_p = 0;               // under lock_: the running decoder's, 0 when none
  bool ending_ = false;              // under lock_: start no other decoder
  bool writer_released_ = false;     // under lock_: the writer no longer waits
  util::unique_fd new_write_end_;    // under lock_: a replacement's pipe, not yet taken
  steady::time_point last_start_;    // under lock_
  pthread_t watch_thread_{};         // the starting thread's
  bool watch_running_ = false;       // under lock_
};
