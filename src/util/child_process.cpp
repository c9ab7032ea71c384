// Starting, ending and reaping a held child process.
#include "util/child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <thread>
#include <utility>

#include "platform/platform.h"
#include "util/drop_privileges.h"

namespace util {

namespace {

// How often end() looks whether the child has gone within the grace time.
constexpr auto end_poll_interval = std::chrono::milliseconds(10);

// In the child, before the program: signal dispositions that are ignored
// and masks survive exec, and the caller may have set either for itself.
void give_child_default_signals() {
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(SIGPIPE, &default_action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

child_process child_process::start(int input, const char *program,
                                   void (*run)(const program_file &program, void *context),
                                   void *context, std::chrono::milliseconds grace) {
  // Looked up here: the child of a process with threads must not read the
  // user database.
  const child_identity identity = child_identity_for(platform::child_user());
  int report[2];
  if (pipe2(report, O_CLOEXEC | O_NONBLOCK) != 0) return child_process();
  unique_fd report_read(report[0]), report_write(report[1]);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return child_process();
  if (child == 0) {
    if (input >= 0 && input != STDIN_FILENO) {
      dup2(input, STDIN_FILENO);
      close(input);
    }
    const program_file file(program, report_write.get());
    drop_privileges_or_exit(identity);
    give_child_default_signals();
    run(file, context);
    _exit(exit_not_executed);
  }
  child_process started(child, grace);
  started.exec_report_ = std::move(report_read);
  return started;
}

child_process::child_process(child_process &&other) noexcept
    : pid_(other.release()), grace_(other.grace_), exec_report_(std::move(other.exec_report_)) {}

child_process &child_process::operator=(child_process &&other) noexcept {
  if (this != &other) {
    end();
    grace_ = other.grace_;
    pid_ = other.release();
    exec_report_ = std::move(other.exec_report_);
  }
  return *this;
}

int child_process::exec_error() {
  int error = 0;
  int reported;
  while (exec_report_.valid() &&
         read(exec_report_.get(), &reported, sizeof reported) == sizeof reported) {
    error = reported;
  }
  return error;
}

std::optional<int> child_process::poll() {
  if (pid_ <= 0) return std::nullopt;
  int status = 0;
  pid_t ended;
  while ((ended = waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (ended == 0) return std::nullopt;
  pid_ = -1;
  // ECHILD: reaped elsewhere already; nothing is left to wait for.
  return ended < 0 ? 0 : status;
}

int child_process::wait() {
  if (pid_ <= 0) return 0;
  int status = 0;
  pid_t ended;
  while ((ended = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return ended < 0 ? 0 : status;
}

std::optional<int> child_process::end() {
  if (pid_ <= 0) return std::nullopt;
  if (auto status = poll()) return status;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace_;
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto status = poll()) return status;
    std::this_thread::sleep_for(end_poll_interval);
  }
  kill(pid_, SIGKILL);
  return wait();
}

pid_t child_process::release() { return std::exchange(pid_, -1); }

}  // namespace util
