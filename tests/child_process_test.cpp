// The child holder: whatever the child does with SIGTERM, it is gone and
// reaped when its holder goes, and a move hands the duty on exactly once; a
// child it starts reads what it was handed and does not inherit the
// caller's ignored SIGPIPE or blocked signals; it executes its program
// wherever that lies, and a program it cannot execute is reported with the
// reason.
#include "util/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/sim_process.h"
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
void check_child_setup(const util::program_file &, void *) {
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
  util::child_process child =
      util::child_process::start(ends[0], "/bin/true", check_child_setup, nullptr);
  close(ends[0]);
  ASSERT_TRUE(child.running());
  const int status = child.wait();
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A program and its arguments, made before the fork: the child only
// executes.
struct program_call {
  std::string path;
  std::vector<std::string> words;
  std::vector<char *> arguments;

  program_call(std::string program, std::vector<std::string> more)
      : path(std::move(program)), words(std::move(more)) {
    words.insert(words.begin(), path);
    for (std::string &word : words) arguments.push_back(word.data());
    arguments.push_back(nullptr);
  }
  static void run(const util::program_file &file, void *self) {
    file.execute(static_cast<program_call *>(self)->arguments.data());
  }
};

// The wait status of `call` started as the player starts its programs, and
// why it could not be executed (0 when it was).
std::pair<int, int> run_started(program_call &call) {
  util::child_process child =
      util::child_process::start(-1, call.path.c_str(), program_call::run, &call);
  if (!child.running()) return {-1, -1};
  const int status = child.wait();
  return {status, child.exec_error()};
}

void write_program(const std::string &path, const std::string &text, mode_t mode) {
  std::ofstream(path) << text;
  chmod(path.c_str(), mode);
}

// Exits 42 only when it runs without root and cannot gain privileges.
constexpr char dropped_check[] =
    "[ \"$(id -u)\" != 0 ] && grep -q '^NoNewPrivs:[[:space:]]*1' /proc/self/status && exit 42\n"
    "exit 1\n";

// Run as root, the player starts its programs as another user, who cannot
// enter root's home: a binary and a script there still run, as that user.
TEST(ChildProcess, ProgramsRunFromAFolderOnlyRootMayEnter) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: as the same user, a child enters every folder";
  temporary_folder folder;
  const std::string locked = folder.file("locked"), open = folder.file("open");
  ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(open.c_str(), 0755), 0);
  std::filesystem::copy_file("/bin/sh", locked + "/shell");
  chmod((locked + "/shell").c_str(), 0755);
  write_program(locked + "/script", std::string("#!/bin/sh\n") + dropped_check, 0755);
  write_program(open + "/script", std::string("#!/bin/sh\n") + dropped_check, 0755);

  program_call binary(locked + "/shell", {"-c", dropped_check});
  program_call locked_script(locked + "/script", {});
  program_call open_script(open + "/script", {});
  for (program_call *call : {&binary, &locked_script, &open_script}) {
    const auto [status, error] = run_started(*call);
    EXPECT_EQ(error, 0) << call->path << ": " << std::strerror(error);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << call->path << " " << status;
  }
}

TEST(ChildProcess, AProgramThatCannotBeExecutedIsReportedWithItsReason) {
  temporary_folder folder;
  write_program(folder.file("not-executable"), "#!/bin/sh\nexit 0\n", 0644);
  program_call missing(folder.file("missing"), {});
  program_call not_executable(folder.file("not-executable"), {});
  const auto [missing_status, missing_error] = run_started(missing);
  EXPECT_EQ(missing_error, ENOENT);
  EXPECT_TRUE(WIFEXITED(missing_status) && WEXITSTATUS(missing_status) == 127) << missing_status;
  EXPECT_EQ(run_started(not_executable).second, EACCES);
}

}  // namespace
