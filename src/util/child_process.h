// A child process with one owner: when the owner goes, the child is asked to
// end (SIGTERM), killed if it has not ended within the grace time, and
// reaped, so no child outlives its holder and none is left a zombie.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>

namespace util {

class child_process {
 public:
  child_process() = default;
  explicit child_process(pid_t pid, std::chrono::milliseconds grace = std::chrono::seconds(1))
      : pid_(pid), grace_(grace) {}
  child_process(child_process &&other) noexcept;
  child_process &operator=(child_process &&other) noexcept;
  child_process(const child_process &) = delete;
  child_process &operator=(const child_process &) = delete;
  ~child_process() { end(); }

  // Forks a child that reads `input` (unless it is -1) as its standard
  // input, with SIGPIPE at its default and no signal blocked, and runs
  // `run(context)`, which executes a program; should it return, the child
  // ends with status 127. The caller may run other threads, so until the
  // program is executed `run` may use only calls that are safe after fork
  // (no stdio, no allocation). stdout is flushed first, so that the child
  // prints nothing ahead of lines still buffered. An empty holder when no
  // process can be made.
  static child_process start(int input, void (*run)(void *context), void *context,
                             std::chrono::milliseconds grace = std::chrono::seconds(1));

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }

  // The wait status if the child has ended (and is now reaped), nothing
  // while it runs.
  std::optional<int> poll();
  // Waits for the child to end by itself and returns its wait status.
  int wait();
  // SIGTERM, up to the grace time, then SIGKILL; always reaps. Returns the
  // wait status, or nothing when no child was held.
  std::optional<int> end();
  // The child is no longer ended or reaped here.
  pid_t release();

 private:
  pid_t pid_ = -1;
  std::chrono::milliseconds grace_{1000};
};

}  // namespace util
