// Starting and ending the PCM player. It is started from the thread that
// streams the disc while the main process may run other threads too, so the
// child uses only calls that are safe after fork until it executes the
// player; all the player's other descriptors are close-on-exec.
#include "audio/pcm_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace {

constexpr char argument_quiet[] = "-q";
constexpr char argument_type[] = "-t";
constexpr char type_raw[] = "raw";
constexpr char argument_format[] = "-f";
constexpr char format_cd[] = "cd";  // S16_LE, 44100 Hz, stereo
constexpr char argument_buffer[] = "--buffer-time";
constexpr char argument_standard_input[] = "-";

// Together with the piece the streamer holds, at most about 0.1 s of audio
// waits between the drive and the player.
constexpr int pipe_bytes = 8192;
constexpr int grace_steps = 100;  // SIGTERM to SIGKILL: 100 steps of 10 ms
constexpr useconds_t grace_step_microseconds = 10000;
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

bool reaped(pid_t player) { return waitpid(player, nullptr, WNOHANG) == player; }

}  // namespace

pcm_output::~pcm_output() { end(); }

int pcm_output::start() {
  end();
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return 0;
  fcntl(pipe_ends[1], F_SETPIPE_SZ, pipe_bytes);
  fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK);
  std::fflush(stdout);  // the child must not print ahead of lines still buffered here
  const pid_t child = fork();
  if (child == 0) become_player(pipe_ends[0]);
  close(pipe_ends[0]);
  if (child < 0) {
    close(pipe_ends[1]);
    return 0;
  }
  pid_ = child;
  input_ = pipe_ends[1];
  return 1;
}

void pcm_output::end() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    bool ended = reaped(pid_);
    for (int step = 0; !ended && step < grace_steps; ++step) {
      usleep(grace_step_microseconds);
      ended = reaped(pid_);
    }
    if (!ended) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = 0;
  }
  if (input_ >= 0) close(input_);
  input_ = -1;
}
