// Starting and ending the PCM player. It is started from the thread that
// streams the disc while the main process may run other threads too, so the
// child uses only calls that are safe after fork until it executes the
// player; all the player's other descriptors are close-on-exec.
#include "audio/pcm_output.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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
constexpr int exit_not_executed = 127;

[[noreturn]] void become_player(int output) {
  dup2(output, STDIN_FILENO);
  // The streamer blocks SIGPIPE for itself; the player gets its own defaults.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const char *program = platform::pcm_player_program();
  execl(program, program, argument_quiet, argument_type, type_raw, argument_format, format_cd,
        argument_buffer, pcm_player_buffer_microseconds, argument_standard_input,
        static_cast<char *>(nullptr));
  _exit(exit_not_executed);
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
  std::fflush(stdout);  // the child must not print ahead of lines still buffered here
  const pid_t child = fork();
  if (child == 0) become_player(output.get());
  if (child < 0) return 0;
  player_ = util::child_process(child, grace);
  input_ = std::move(input);
  return 1;
}

void pcm_output::end() {
  player_.end();
  input_.reset();
}
