// Starting, watching, replacing and ending the decoder process. A watch
// thread waits for the decoder to end; unless the mode is ending it, it
// reports how it ended, starts a new one on a new frame pipe (at most once a
// second) and hands that pipe to the writer. The decoder is forked from a
// process that runs other threads, so the child uses only calls that are
// safe there (no stdio, no allocation) until it executes the decoder;
// whichever way the MP3 mode ends, the decoder ends with it.
#include "mp3/decoder.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "ctl/ctl.h"
#include "ctl/texts.h"
#include "mp3/frame_pipe.h"
#include "platform/platform.h"
#include "util/drop_privileges.h"
#include "util/unique_fd.h"

pid_t mpg_pid_p = 0;

namespace {

constexpr char text_attempt[] = "Try to start the mp3 player the %i. time...\n";
constexpr char text_exec_failed[] = "mpg123 died unexpected\n";
constexpr char text_fork_failed[] =
    "There is a BIG problem while starting the player :-(\n in my mind it MUST be YOUR fault "
    "!!! ;-)\n";
constexpr char text_exited[] = "mpg123 ended with exit status %i\n";
constexpr char text_killed[] = "mpg123 ended by signal %i\n";
constexpr char argument_standard_input[] = "-";
constexpr char argument_buffer[] = "-b";

constexpr unsigned int seconds_between_attempts = 1;
constexpr auto time_between_starts = std::chrono::seconds(1);
constexpr auto grace_before_kill = std::chrono::seconds(1);

using steady = std::chrono::steady_clock;

// Everything below is guarded by decoder_lock once the watch runs.
std::mutex decoder_lock;
std::condition_variable decoder_changed;
bool ending = false;            // the decoder is being ended: start no other
bool writer_released = false;   // the writer no longer waits for a decoder
util::unique_fd new_write_end;  // the pipe of a replacement, not yet taken
steady::time_point last_start;
pthread_t watch_thread;
bool watch_running = false;

// The attempt count goes on across decoders, and it is the child that
// counts: one word in a mapping shared with every child.
std::atomic<unsigned int> *attempts = nullptr;

// The attempt line, formatted without stdio and written in one piece, so
// that no line of the mode's own lands inside it.
void print_attempt(unsigned int attempt) {
  const char *field = std::strstr(text_attempt, "%i");
  const size_t before = static_cast<size_t>(field - text_attempt);
  char line[sizeof text_attempt + 12];
  std::memcpy(line, text_attempt, before);
  char digits[12];
  size_t count = 0;
  do {
    digits[sizeof digits - 1 - count++] = static_cast<char>('0' + attempt % 10);
    attempt /= 10;
  } while (attempt != 0);
  std::memcpy(line + before, digits + sizeof digits - count, count);
  const size_t after = std::strlen(field + 2);
  std::memcpy(line + before + count, field + 2, after);
  const ssize_t written = write(STDOUT_FILENO, line, before + count + after);
  static_cast<void>(written);
}

[[noreturn]] void become_decoder(int input, const util::child_identity &identity) {
  util::drop_privileges_or_exit(identity);
  dup2(input, STDIN_FILENO);
  close(input);
  // The mode ignores SIGPIPE for its writer; the decoder gets the default.
  signal(SIGPIPE, SIG_DFL);
  const char *program = platform::decoder_program();
  for (;;) {
    print_attempt(attempts->fetch_add(1) + 1);
    execl(program, program, argument_standard_input, argument_buffer, decoder_buffer_kilobytes,
          static_cast<char *>(nullptr));
    const ssize_t written = write(STDOUT_FILENO, text_exec_failed, sizeof text_exec_failed - 1);
    static_cast<void>(written);
    sleep(seconds_between_attempts);
  }
}

// The fatal paths below run with decoder_lock held, and ending the mode
// process takes it again to end the decoder.
[[noreturn]] void end_mode_process_holding(std::unique_lock<std::mutex> &hold, int status) {
  hold.unlock();
  end_mode_process(status);
}

// Forks a decoder reading `input`, which the mode then closes; ends the mode
// process when no process can be made. `hold` holds decoder_lock.
void fork_decoder(util::unique_fd input, std::unique_lock<std::mutex> &hold) {
  // The decoder parses the disc's bytes: it runs without root and
  // capabilities, as every program the player starts.
  const util::child_identity identity = util::child_identity_for(platform::child_user());
  std::fflush(stdout);  // the child must not print ahead of lines still buffered here
  const pid_t child = fork();
  if (child == 0) become_decoder(input.get(), identity);
  input.reset();
  mpg_pid_p = child;
  if (child < 0) {
    std::fputs(text_fork_failed, stdout);
    end_mode_process_holding(hold, -1);
  }
  mpg_pid = child;
  last_start = steady::now();
}

void report_end(int status) {
  if (WIFSIGNALED(status)) {
    std::printf(text_killed, WTERMSIG(status));
  } else {
    std::printf(text_exited, WEXITSTATUS(status));
  }
}

// Starts a decoder on a new pipe and leaves the pipe's write end for the
// writer. `hold` holds decoder_lock.
void replace_decoder(std::unique_lock<std::mutex> &hold) {
  int ends[2];
  if (!make_frame_pipe(ends)) {
    std::fputs(text_unable_to_create_pipe, stdout);
    end_mode_process_holding(hold, 1);
  }
  util::unique_fd write_end(ends[1]);
  fork_decoder(util::unique_fd(ends[0]), hold);
  new_write_end = std::move(write_end);  // closes a replacement the writer never took
  decoder_changed.notify_all();
}

// The watch: waits for the decoder to end without reaping it, so that its
// pid stays valid for kill() until it is reaped here under the lock.
void *watch_decoder(void *) {
  std::unique_lock<std::mutex> hold(decoder_lock);
  while (mpg_pid_p > 0) {
    const pid_t decoder = mpg_pid_p;
    hold.unlock();
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(decoder), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    hold.lock();
    int status = 0;
    while (waitpid(decoder, &status, 0) < 0 && errno == EINTR) {
    }
    mpg_pid_p = 0;
    decoder_changed.notify_all();
    if (ending) break;
    report_end(status);
    // A decoder that ends at once is started again no sooner than a second
    // after the one before it.
    if (decoder_changed.wait_until(hold, last_start + time_between_starts, [] { return ending; })) {
      break;
    }
    replace_decoder(hold);
  }
  return nullptr;
}

void end_decoder_at_exit() { end_decoder(); }

}  // namespace

void init_mpg_thread(void *) {
  if (attempts == nullptr) {
    void *shared =
        mmap(nullptr, sizeof *attempts, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
      std::fputs(text_fork_failed, stdout);
      end_mode_process(-1);
    }
    attempts = new (shared) std::atomic<unsigned int>(0);
  }
  std::unique_lock<std::mutex> hold(decoder_lock);
  ending = false;
  writer_released = false;
  fork_decoder(util::unique_fd(std::exchange(pipe_data[0], -1)), hold);
  std::atexit(end_decoder_at_exit);
  watch_running = pthread_create(&watch_thread, nullptr, watch_decoder, nullptr) == 0;
  if (!watch_running) {
    // Nobody would reap or replace the decoder: as if it could not be started.
    kill(mpg_pid_p, SIGKILL);
    waitpid(mpg_pid_p, nullptr, 0);
    mpg_pid_p = 0;
    std::fputs(text_fork_failed, stdout);
    end_mode_process_holding(hold, -1);
  }
}

pid_t decoder_pid() {
  const std::lock_guard<std::mutex> hold(decoder_lock);
  return mpg_pid_p;
}

int take_decoder_pipe() {
  const std::lock_guard<std::mutex> hold(decoder_lock);
  return new_write_end.release();
}

int await_decoder_pipe() {
  std::unique_lock<std::mutex> hold(decoder_lock);
  decoder_changed.wait(hold, [] { return new_write_end.valid() || ending || writer_released; });
  if (ending || writer_released) return -1;
  return new_write_end.release();
}

void stop_waiting_for_decoder() {
  const std::lock_guard<std::mutex> hold(decoder_lock);
  writer_released = true;
  decoder_changed.notify_all();
}

void stop_replacing_decoder() {
  const std::lock_guard<std::mutex> hold(decoder_lock);
  ending = true;
  decoder_changed.notify_all();
}

void signal_decoder_to_end() {
  const std::lock_guard<std::mutex> hold(decoder_lock);
  ending = true;
  decoder_changed.notify_all();
  if (mpg_pid_p > 0) kill(mpg_pid_p, SIGTERM);
}

void await_decoder_end() {
  {
    std::unique_lock<std::mutex> hold(decoder_lock);
    ending = true;
    const auto gone = [] { return mpg_pid_p <= 0; };
    if (!watch_running) return;
    if (!decoder_changed.wait_for(hold, grace_before_kill, gone)) {
      kill(mpg_pid_p, SIGKILL);
      decoder_changed.wait(hold, gone);
    }
    watch_running = false;
    new_write_end.reset();
  }
  // The watch itself ends the mode when no replacement can be started; it
  // cannot wait for its own end.
  if (!pthread_equal(watch_thread, pthread_self())) pthread_join(watch_thread, nullptr);
}

void end_decoder() {
  signal_decoder_to_end();
  await_decoder_end();
}

// Every fatal error of the mode ends here, so that the decoder never
// outlives the mode and every console line printed so far is out. Not
// exit(): the other threads still run, and its handlers and destructors
// would pull globals from under them; the writer's stream may hold frames
// for a pipe that nobody drains any more, so flushing it could block.
void end_mode_process(int status) {
  end_decoder();
  std::fflush(stdout);
  _exit(status);
}
