// The simulator's command line as a person meets it: a disc folder is taken
// by its absolute path, and one that has no usable absolute path is refused
// as a disc, with the usage, instead of ending the simulator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/sim_process.h"
#include "util/unique_fd.h"

namespace {

// Folders nested so deep under `top` that the innermost one's absolute path
// is longer than PATH_MAX, made one step at a time through descriptors,
// since no path can name the bottom; removed the same way.
class deep_folder {
 public:
  explicit deep_folder(const std::string &top) {
    levels_.emplace_back(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t i = 0; i < depth && levels_.back(); ++i) {
      mkdirat(levels_.back().get(), name_.c_str(), 0755);
      levels_.emplace_back(
          openat(levels_.back().get(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
  }
  ~deep_folder() {
    if (levels_.back()) unlinkat(levels_.back().get(), "disc", AT_REMOVEDIR);
    while (levels_.size() > 1) {
      levels_.pop_back();
      unlinkat(levels_.back().get(), name_.c_str(), AT_REMOVEDIR);
    }
  }
  deep_folder(const deep_folder &) = delete;
  deep_folder &operator=(const deep_folder &) = delete;

  bool made() const { return levels_.size() == depth + 1 && levels_.back(); }
  int bottom() const { return levels_.back().get(); }

 private:
  static constexpr std::size_t depth = 20;  // 20 names of 250 characters
  const std::string name_ = std::string(250, 'd');
  std::vector<util::unique_fd> levels_;
};

// Runs discbox-sim with `arguments` in the folder `directory`; returns its
// wait status and what it wrote on standard error.
int run_in(int directory, const std::vector<std::string> &arguments, std::string &errors) {
  const std::string program = built_program("discbox-sim");
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (auto &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  util::unique_fd error_input(ends[0]), error_output(ends[1]);
  const pid_t child = fork();
  if (child == 0) {
    dup2(error_output.get(), STDERR_FILENO);
    if (fchdir(directory) == 0) execv(program.c_str(), argv.data());
    _exit(127);
  }
  error_output.reset();
  char bytes[4096];
  for (ssize_t got; (got = read(error_input.get(), bytes, sizeof bytes)) > 0;) {
    errors.append(bytes, static_cast<std::size_t>(got));
  }
  int status = -1;
  if (child > 0) waitpid(child, &status, 0);
  return status;
}

TEST(SimOptions, DiscFolderWithoutAnAbsolutePathIsRefusedLikeAMissingOne) {
  temporary_folder scratch;
  deep_folder deep(scratch.path());
  ASSERT_TRUE(deep.made());
  ASSERT_EQ(mkdirat(deep.bottom(), "disc", 0755), 0);

  std::string errors;
  const int status = run_in(deep.bottom(), {"--run-for", "1", "disc"}, errors);

  ASSERT_TRUE(WIFEXITED(status)) << errors;
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(errors.rfind("discbox-sim: not a disc (no such folder): disc\n", 0), 0u) << errors;
}

}  // namespace
