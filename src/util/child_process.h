// A child process with one owner: when the owner goes, the child is asked to
// end (SIGTERM), killed if it has not ended within the grace time, and
// reaped, so no child outlives its holder and none is left a zombie.
// start() makes the child too, and gives it only what a program that reads
// a disc's bytes should have (drop_privileges.h), with the program opened
// before that (program_file.h).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>

#include "util/program_file.h"
#include "util/unique_fd.h"

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
  // input, opens `program` while it is still what the caller is, gives up
  // root and every capability (as child_identity_for(platform::child_user())
  // says, looked up here before the fork; a child that cannot ends at once
  // with status 127), sets SIGPIPE to its default and blocks no signal, and
  // runs `run(program, context)`, which executes the program; should it
  // return, the child ends with status 127. The caller may run other
  // threads, so until the program is executed `run` may use only calls that
  // are safe after fork (no stdio, no allocation). stdout is flushed first,
  // so that the child prints nothing ahead of lines still buffered. An empty
  // holder when no process can be made.
  static child_process start(int input, const char *program,
                             void (*run)(const program_file &program, void *context), void *context,
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

  // Once the child has ended: why the program could not be executed (an
  // errno value), or 0 when it was, or never tried. Kept until the holder
  // takes another child.
  int exec_error();

 private:
  pid_t pid_ = -1;
  std::chrono::milliseconds grace_{1000};
  unique_fd exec_report_;  // read end, non-blocking: the child's failed executions
};

}  // namespace util
