// Giving up privileges before exec: a program started by a child of root, or
// by a service user holding ambient capabilities, runs without root and
// without any capability, and cannot reach the terminal the player's keys
// come from. Each case executes a shell command after the drop, so what is
// checked is what the kernel gave the executed program. Changing users
// needs root (the test command runs as root); elsewhere those cases skip.
#include "util/drop_privileges.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/processes.h"
#include "util/unique_fd.h"

namespace {

constexpr int exit_set_up_failed = 3;

// Forks; the child runs `prepare`, drops to what child_identity_for(user)
// says when looked up after `prepare`, and executes `command` in sh.
// Returns what the command printed.
template <typename Prepare>
std::string output_after_drop(const char *user, Prepare prepare, const char *command) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return "no pipe";
  util::unique_fd read_end(ends[0]), write_end(ends[1]);
  const pid_t child = fork();
  if (child == 0) {
    if (!prepare()) _exit(exit_set_up_failed);
    const util::child_identity identity = util::child_identity_for(user);
    util::drop_privileges_or_exit(identity);
    dup2(write_end.get(), STDOUT_FILENO);
    execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
    _exit(127);
  }
  write_end.reset();
  std::string text;
  char bytes[4096];
  for (ssize_t count; (count = read(read_end.get(), bytes, sizeof bytes)) > 0;) {
    text.append(bytes, static_cast<size_t>(count));
  }
  int wait_status = 0;
  waitpid(child, &wait_status, 0);
  if (!WIFEXITED(wait_status) || WEXITSTATUS(wait_status) != 0) {
    return "child ended with wait status " + std::to_string(wait_status) + "\n" + text;
  }
  return text;
}

template <typename Prepare>
std::string status_after_drop(const char *user, Prepare prepare) {
  return output_after_drop(user, prepare, "cat /proc/self/status");
}

// The value fields of the status line `key` ("Uid", "Groups").
std::string status_field(const std::string &status, const std::string &key) {
  const size_t at = status.find("\n" + key + ":\t");
  if (at == std::string::npos) return "";
  const size_t begin = at + key.size() + 3;
  std::string value = status.substr(begin, status.find('\n', begin) - begin);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  return value;
}

std::string four_times(unsigned id) {
  const std::string text = std::to_string(id);
  return text + "\t" + text + "\t" + text + "\t" + text;
}

class DropPrivileges : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "changing users needs root";
  }
};

TEST_F(DropPrivileges, ChildOfRootBecomesTheUserWithItsOwnGroupsOnly) {
  // daemon (uid 1) is in every Debian user database; root's groups must go.
  const passwd *daemon = getpwnam("daemon");
  ASSERT_NE(daemon, nullptr);
  const std::string status = status_after_drop("daemon", [] { return true; });
  EXPECT_EQ(privileges_held(status), "") << status;
  EXPECT_EQ(status_field(status, "Uid"), four_times(daemon->pw_uid)) << status;
  EXPECT_EQ(status_field(status, "Gid"), four_times(daemon->pw_gid)) << status;
  EXPECT_EQ(status_field(status, "Groups"), std::to_string(daemon->pw_gid)) << status;
}

// A simulator run as root, or a box set up by hand without the package's
// user: never root, and still in the sound card's group.
TEST_F(DropPrivileges, ChildOfRootBecomesNobodyInTheAudioGroupWhenTheUserIsMissing) {
  const passwd *nobody = getpwnam("nobody");
  const group *audio = getgrnam("audio");
  ASSERT_NE(nobody, nullptr);
  ASSERT_NE(audio, nullptr);
  const std::string status = status_after_drop("no-such-user", [] { return true; });
  EXPECT_EQ(privileges_held(status), "") << status;
  EXPECT_EQ(status_field(status, "Uid"), four_times(nobody->pw_uid)) << status;
  EXPECT_EQ(status_field(status, "Groups"), std::to_string(audio->gr_gid)) << status;
}

// The service runs the player as its own user with ambient capabilities,
// which an exec would hand on to the decoder unless the child clears them.
TEST_F(DropPrivileges, AmbientCapabilitiesOfAServiceUserAreNotHandedOn) {
  const passwd *nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const uid_t user = nobody->pw_uid;
  const gid_t user_group = nobody->pw_gid;
  const std::string status = status_after_drop("no-such-user", [user, user_group] {
    if (prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0 || setgroups(0, nullptr) != 0 ||
        setresgid(user_group, user_group, user_group) != 0 || setresuid(user, user, user) != 0) {
      return false;
    }
    constexpr unsigned held = (1u << CAP_SYS_RAWIO) | (1u << CAP_SYS_ADMIN);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {{held, held, held}, {0, 0, 0}};
    return syscall(SYS_capset, &header, sets) == 0 &&
           prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_RAWIO, 0, 0) == 0 &&
           prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SYS_ADMIN, 0, 0) == 0;
  });
  EXPECT_EQ(privileges_held(status), "") << status;
  EXPECT_EQ(status_field(status, "Uid"), four_times(user)) << status;
}

// The player reads its keys from its controlling terminal (tty1); mpg123
// opens /dev/tty and would read them too.
TEST(DropPrivilegesTerminal, ChildCannotOpenThePlayersTerminal) {
  const std::string output = output_after_drop(
      "no-such-user",
      [] {
        // A session with a terminal of its own, as the service gives the
        // player; the child that drops is a process of that session.
        if (setsid() < 0) return false;
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
        const int terminal = open(ptsname(master), O_RDWR);
        if (terminal < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0) return false;
        const pid_t child = fork();
        if (child == 0) return open("/dev/tty", O_RDONLY) >= 0;
        int status = 0;
        waitpid(child, &status, 0);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : exit_set_up_failed);
      },
      "if (: </dev/tty) 2>/dev/null; then echo reached; else echo refused; fi");
  EXPECT_EQ(output, "refused\n");
}

}  // namespace
