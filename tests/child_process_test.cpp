// The child holder: whatever the child does with SIGTERM, it is gone and
// reaped when its holder goes, and a move hands the duty on exactly once.
#include "util/child_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

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

}  // namespace
