// Starting and ending the decoder process. The decoder is forked from a
// process that already runs the pipeline threads, so the child uses only
// calls that are safe there (no stdio, no allocation) until it executes the
// decoder; whichever way the MP3 mode ends, the decoder ends with it.
#include "mp3/decoder.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ctl/ctl.h"
#include "platform/platform.h"

pid_t mpg_pid_p = 0;

namespace {

constexpr char text_attempt[] = "Try to start the mp3 player the %i. time...\n";
constexpr char text_exec_failed[] = "mpg123 died unexpected\n";
constexpr char text_fork_failed[] =
    "There is a BIG problem while starting the player :-(\n in my mind it MUST be YOUR fault "
    "!!! ;-)\n";
constexpr char argument_standard_input[] = "-";
constexpr char argument_buffer[] = "-b";

constexpr unsigned int seconds_between_attempts = 1;
constexpr int grace_steps = 100;  // SIGTERM to SIGKILL: 100 steps of 10 ms
constexpr useconds_t grace_step_microseconds = 10000;

std::mutex decoder_lock;  // around mpg_pid_p once the pipeline threads run

void write_text(const char *text, size_t length) {
  while (length > 0) {
    const ssize_t written = write(STDOUT_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// Prints the attempt line without stdio: the "%i" of the text becomes the
// attempt number.
void print_attempt(unsigned int attempt) {
  const char *field = std::strstr(text_attempt, "%i");
  char digits[12];
  size_t count = 0;
  do {
    digits[sizeof digits - 1 - count++] = static_cast<char>('0' + attempt % 10);
    attempt /= 10;
  } while (attempt != 0);
  write_text(text_attempt, static_cast<size_t>(field - text_attempt));
  write_text(digits + sizeof digits - count, count);
  write_text(field + 2, std::strlen(field + 2));
}

[[noreturn]] void become_decoder() {
  dup2(pipe_data[0], STDIN_FILENO);
  close(pipe_data[0]);
  // The mode ignores SIGPIPE for its writer; the decoder gets the default.
  signal(SIGPIPE, SIG_DFL);
  const char *program = platform::decoder_program();
  for (unsigned int player_start = 1;; ++player_start) {
    print_attempt(player_start);
    execl(program, program, argument_standard_input, argument_buffer, decoder_buffer_kilobytes,
          static_cast<char *>(nullptr));
    write_text(text_exec_failed, sizeof text_exec_failed - 1);
    sleep(seconds_between_attempts);
  }
}

bool reaped(pid_t decoder) { return waitpid(decoder, nullptr, WNOHANG) == decoder; }

void end_decoder_at_exit() { end_decoder(); }

}  // namespace

void init_mpg_thread(void *) {
  std::fflush(stdout);  // the child must not print ahead of lines still buffered here
  const pid_t child = fork();
  if (child == 0) become_decoder();
  const std::lock_guard<std::mutex> hold(decoder_lock);
  mpg_pid_p = child;
  if (child < 0) {
    std::fputs(text_fork_failed, stdout);
    std::exit(-1);
  }
  mpg_pid = child;
  std::atexit(end_decoder_at_exit);
}

pid_t decoder_pid() {
  const std::lock_guard<std::mutex> hold(decoder_lock);
  return mpg_pid_p;
}

void signal_decoder_to_end() {
  const std::lock_guard<std::mutex> hold(decoder_lock);
  if (mpg_pid_p > 0) kill(mpg_pid_p, SIGTERM);
}

void await_decoder_end() {
  const std::lock_guard<std::mutex> hold(decoder_lock);
  if (mpg_pid_p <= 0) return;
  bool ended = reaped(mpg_pid_p);
  for (int step = 0; !ended && step < grace_steps; ++step) {
    usleep(grace_step_microseconds);
    ended = reaped(mpg_pid_p);
  }
  if (!ended) {
    kill(mpg_pid_p, SIGKILL);
    while (waitpid(mpg_pid_p, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  mpg_pid_p = 0;
}

void end_decoder() {
  signal_decoder_to_end();
  await_decoder_end();
}

void end_mode_process(int status) {
  end_decoder();
  std::fflush(stdout);
  // Not exit(): the other threads still run, and the writer's stream may
  // hold frames for a pipe that nobody drains any more.
  _exit(status);
}
