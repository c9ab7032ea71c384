// The child holder: whatever the child does with SIGTERM, it is gone and
// reaped when its holder goes, and a move hands the duty on exactly once; a
// child it starts reads what it was handed and does not inherit the
// caller's ignored SIGPIPE or blocked signals.
#include "util/child_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "util/scope_exit.h"

namespace {

// A child that ignores SIGTERM when asked, then waits for a signal.
pid_t start_child(bool ignore_term) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (ignore_term) signal(SIGTERM, SIG_IGN);
    for (;;) pause();
  }
  return pid;
}

bool reaped(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD; }

TEST(ChildProcess, EndsTheChildAsItCanAndReapsIt) {
  const pid_t polite = start_child(false);
  const pid_t stubborn = start_child(true);
  {
    util::child_process a(polite);
    EXPECT_FALSE(a.poll().has_value());
    const auto status = a.end();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM);
    EXPECT_FALSE(a.running());
  }
  EXPECT_TRUE(reaped(polite));
  {
    util::child_process b(stubborn, std::chrono::milliseconds(50));
    util::child_process moved = std::move(b);
    EXPECT_FALSE(b.running());
    EXPECT_EQ(moved.pid(), stubborn);
  }
  EXPECT_TRUE(reaped(stubborn));
}

TEST(ChildProcess, AChildThatEndedByItselfKeepsItsExitStatus) {
  const pid_t pid = fork();
  if (pid == 0) _exit(7);
  util::child_process child(pid);
  const int status = child.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
  EXPECT_FALSE(child.end().has_value());
}

// The child's exit status says what it found: 1 a wrong first byte on its
// standard input, 2 SIGPIPE still ignored, 3 a signal still blocked.
void check_child_setup(void *) {
  char byte = 0;
  if (read(STDIN_FILENO, &byte, 1) != 1 || byte != 'k') _exit(1);
  struct sigaction pipe_action = {};
  sigaction(SIGPIPE, nullptr, &pipe_action);
  if (pipe_action.sa_handler != SIG_DFL) _exit(2);
  sigset_t blocked;
  sigprocmask(SIG_BLOCK, nullptr, &blocked);
  if (sigismember(&blocked, SIGUSR1)) _exit(3);
  _exit(0);
}

TEST(ChildProcess, AStartedChildReadsItsInputWithDefaultSignals) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], "k", 1), 1);
  close(ends[1]);
  const auto old_pipe = signal(SIGPIPE, SIG_IGN);
  sigset_t usr1, old_mask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &old_mask);
  const util::scope_exit restore([&] {
    signal(SIGPIPE, old_pipe);
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  });
  util::child_process child = util::child_process::start(ends[0], check_child_setup, nullptr);
  close(ends[0]);
  ASSERT_TRUE(child.running());
  const int status = child.wait();
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
