// Starting, watching, replacing and ending the decoder process. A watch
// thread waits for the decoder to end; unless the mode is ending it, it
// reports how it ended (for a decoder that could not be executed, why),
// starts a new one on a new frame pipe (at most once a second) and leaves
// that pipe for the writer. So each attempt to execute the decoder is a
// child of its own, which opens the program anew while it is still root.
// The decoder is forked from a process that runs other threads, so the
// child uses only calls that are safe there (no stdio, no allocation) until
// it executes the decoder.
#include "mp3/decoder.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "console/texts.h"
#include "mp3/frame_pipe.h"
#include "mp3/mode_exit.h"
#include "platform/platform.h"

namespace {

constexpr char text_attempt[] = "Try to start the mp3 player the %i. time...\n";
constexpr char text_exec_failed[] = "mpg123 died unexpected\n";
constexpr char text_fork_failed[] =
    "There is a BIG problem while starting the player :-(\n in my mind it MUST be YOUR fault "
    "!!! ;-)\n";
constexpr char text_exited[] = "mpg123 ended with exit status %i\n";
constexpr char text_killed[] = "mpg123 ended by signal %i\n";
constexpr char text_not_executed[] = "mpg123 could not be executed: %s\n";
constexpr char argument_standard_input[] = "-";
constexpr char argument_buffer[] = "-b";

constexpr auto time_between_starts = std::chrono::seconds(1);
constexpr auto grace_before_kill = std::chrono::seconds(1);

// The attempt count goes on across decoders, and it is the child that
// counts: one word in a mapping shared with every child, made once.
std::atomic<unsigned int> *attempts = nullptr;

bool make_attempt_counter() {
  if (attempts != nullptr) return true;
  void *shared =
      mmap(nullptr, sizeof *attempts, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return false;
  attempts = new (shared) std::atomic<unsigned int>(0);
  return true;
}

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

// The child: one attempt to execute the decoder. When it fails, the child
// ends and the watch tries again a second later.
void become_decoder(const util::program_file &program, void *) {
  char *const arguments[] = {
      const_cast<char *>(platform::decoder_program()), const_cast<char *>(argument_standard_input),
      const_cast<char *>(argument_buffer), const_cast<char *>(decoder_buffer_kilobytes), nullptr};
  print_attempt(attempts->fetch_add(1) + 1);
  program.execute(arguments);
  const ssize_t written = write(STDOUT_FILENO, text_exec_failed, sizeof text_exec_failed - 1);
  static_cast<void>(written);
}

void report_end(int status, int exec_error) {
  if (exec_error != 0) {
    std::printf(text_not_executed, std::strerror(exec_error));
  } else if (WIFSIGNALED(status)) {
    std::printf(text_killed, WTERMSIG(status));
  } else {
    std::printf(text_exited, WEXITSTATUS(status));
  }
}

}  // namespace

decoder_process::decoder_process() = default;

// The fatal paths run with lock_ held, and ending the mode process ends the
// decoder, which takes it again.
void decoder_process::fail(std::unique_lock<std::mutex> &hold, const char *text, int status) {
  std::fputs(text, stdout);
  hold.unlock();
  end_mode_process(status);
}

void decoder_process::fork_decoder(util::unique_fd input, std::unique_lock<std::mutex> &hold) {
  process_ =
      util::child_process::start(input.get(), platform::decoder_program(), become_decoder, nullptr);
  input.reset();  // the decoder's alone now
  mpg_pid_p = process_.running() ? process_.pid() : -1;
  if (!process_.running()) fail(hold, text_fork_failed, -1);
  last_start_ = steady::now();
}

void decoder_process::replace(std::unique_lock<std::mutex> &hold) {
  frame_pipe_ends ends;
  if (!make_frame_pipe(ends)) fail(hold, text_unable_to_create_pipe, 1);
  fork_decoder(std::move(ends.read_end), hold);
  new_write_end_ = std::move(ends.write_end);  // closes a replacement the writer never took
  changed_.notify_all();
}

// Waits for the decoder to end without reaping it, so that its pid stays
// valid for kill() until it is reaped here under the lock.
void *decoder_process::watch(void *self) {
  auto &decoder = *static_cast<decoder_process *>(self);
  std::unique_lock<std::mutex> hold(decoder.lock_);
  while (decoder.process_.running()) {
    const pid_t running = decoder.process_.pid();
    hold.unlock();
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(running), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    hold.lock();
    const int status = decoder.process_.poll().value_or(0);
    decoder.process_.release();  // reaped: should poll() have found none, nothing is left
    decoder.mpg_pid_p = 0;
    decoder.changed_.notify_all();
    if (decoder.ending_) break;
    report_end(status, decoder.process_.exec_error());
    // A decoder that ends at once is started again no sooner than a second
    // after the one before it.
    if (decoder.changed_.wait_until(hold, decoder.last_start_ + time_between_starts,
                                    [&] { return decoder.ending_; })) {
      break;
    }
    decoder.replace(hold);
  }
  return nullptr;
}

void decoder_process::end_at_mode_exit(void *self) { static_cast<decoder_process *>(self)->end(); }

void decoder_process::start(util::unique_fd input) {
  std::unique_lock<std::mutex> hold(lock_);
  if (!make_attempt_counter()) fail(hold, text_fork_failed, -1);
  ending_ = false;
  writer_released_ = false;
  at_mode_exit(end_at_mode_exit, this);
  fork_decoder(std::move(input), hold);
  watch_running_ = pthread_create(&watch_thread_, nullptr, watch, this) == 0;
  // Nobody would reap or replace the decoder: as if it could not be started.
  if (!watch_running_) {
    process_ = util::child_process();  // killed and reaped
    mpg_pid_p = 0;
    fail(hold, text_fork_failed, -1);
  }
}

pid_t decoder_process::pid() {
  const std::lock_guard<std::mutex> hold(lock_);
  return mpg_pid_p;
}

util::unique_fd decoder_process::take_pipe() {
  const std::lock_guard<std::mutex> hold(lock_);
  return std::move(new_write_end_);
}

util::unique_fd decoder_process::await_pipe() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return new_write_end_.valid() || ending_ || writer_released_; });
  if (ending_ || writer_released_) return util::unique_fd();
  return std::move(new_write_end_);
}

void decoder_process::release_writer() {
  const std::lock_guard<std::mutex> hold(lock_);
  writer_released_ = true;
  changed_.notify_all();
}

void decoder_process::stop_replacing() {
  const std::lock_guard<std::mutex> hold(lock_);
  ending_ = true;
  changed_.notify_all();
}

void decoder_process::signal_end() {
  const std::lock_guard<std::mutex> hold(lock_);
  ending_ = true;
  changed_.notify_all();
  if (process_.running()) kill(process_.pid(), SIGTERM);
}

void decoder_process::await_end() {
  {
    std::unique_lock<std::mutex> hold(lock_);
    ending_ = true;
    if (!watch_running_) return;
    const auto gone = [&] { return !process_.running(); };
    if (!changed_.wait_for(hold, grace_before_kill, gone)) {
      kill(process_.pid(), SIGKILL);
      changed_.wait(hold, gone);
    }
    watch_running_ = false;
    new_write_end_.reset();
  }
  // The watch itself ends the mode when no replacement can be started; it
  // cannot wait for its own end.
  if (!pthread_equal(watch_thread_, pthread_self())) pthread_join(watch_thread_, nullptr);
  at_mode_exit(nullptr, nullptr);
}

void decoder_process::end() {
  signal_end();
  await_end();
}
