// Starting and ending the PCM player. It is started from the thread that
// streams the disc while the main process may run other threads too, so the
// child uses only calls that are safe after fork until it executes the
// player; all the player's other descriptors are close-on-exec. Like every
// program the player starts, it runs without root and capabilities
// (util::child_process::start).
#include "audio/pcm_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <utility>

#include "platform/platform.h"

namespace {

constexpr char argument_quiet[] = "-q";
constexpr char argument_type[] = "-t";
constexpr char type_raw[] = "raw";
constexpr char argument_format[] = "-f";
constexpr char format_cd[] = "cd";  // S16_LE, 44100 Hz, stereo
constexpr char argument_buffer[] = "--buffer-time";
constexpr char argument_standard_input[] = "-";

// Together with the piece the writer holds, at most about 0.1 s of audio
// waits where a new range can no longer take it back.
constexpr int pipe_bytes = 8192;
constexpr auto grace = std::chrono::seconds(1);  // SIGTERM to SIGKILL

// Runs in the child, which has given up root and its capabilities and reads
// the pipe as its standard input already.
void become_player(const util::program_file &program, void *) {
  char *const arguments[] = {const_cast<char *>(platform::pcm_player_program()),
                             const_cast<char *>(argument_quiet),
                             const_cast<char *>(argument_type),
                             const_cast<char *>(type_raw),
                             const_cast<char *>(argument_format),
                             const_cast<char *>(format_cd),
                             const_cast<char *>(argument_buffer),
                             const_cast<char *>(pcm_player_buffer_microseconds),
                             const_cast<char *>(argument_standard_input),
                             nullptr};
  program.execute(arguments);
}

}  // namespace

pcm_output::~pcm_output() { end(); }

int pcm_output::start() {
  end();
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return 0;
  const util::unique_fd output(pipe_ends[0]);
  util::unique_fd input(pipe_ends[1]);
  fcntl(input.get(), F_SETPIPE_SZ, pipe_bytes);
  fcntl(input.get(), F_SETFL, O_NONBLOCK);
  player_ = util::child_process::start(output.get(), platform::pcm_player_program(), become_player,
                                       nullptr, grace);
  if (!player_.running()) return 0;
  input_ = std::move(input);
  return 1;
}

int pcm_output::end() {
  player_.end();
  input_.reset();
  return player_.exec_error();
}
