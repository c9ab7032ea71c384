// Running discbox-sim for a scenario test, and the test's temporary folder.
#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/processes.h"

extern char **environ;

namespace {

bool make_pipe(util::unique_fd &read_end, util::unique_fd &write_end) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end.reset(ends[0]);
  write_end.reset(ends[1]);
  return true;
}

}  // namespace

std::string built_program(const std::string &relative_path) {
  return std::string(DISCBOX_BINARY_DIR) + "/" + relative_path;
}

sim_process::sim_process(const std::vector<std::string> &arguments,
                         const std::vector<std::string> &environment) {
  // Keys typed after the simulator ended must not end the test.
  signal(SIGPIPE, SIG_IGN);
  // The simulator's ends of its three pipes; ours go to the members.
  util::unique_fd key_input, console_output, error_output;
  if (!make_pipe(key_input, keys_) || !make_pipe(console_, console_output) ||
      !make_pipe(error_, error_output)) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, key_input.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, console_output.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, error_output.get(), STDERR_FILENO);

  std::string program = built_program("discbox-sim");
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (auto &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables(environment);
  for (char **variable = environ; *variable != nullptr; ++variable) variables.push_back(*variable);
  std::vector<char *> envp;
  for (auto &variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
    pid_ = -1;
  }
  process_ = util::child_process(pid_);
  posix_spawn_file_actions_destroy(&actions);
  collector_ = std::thread(&sim_process::collect, this);
}

sim_process::~sim_process() {
  if (pid_ > 0 && wait_exit(std::chrono::milliseconds(0)) == -1) {
    kill(pid_, SIGTERM);
    if (wait_exit(std::chrono::seconds(10)) == -1) {
      kill(pid_, SIGKILL);
      wait_exit(std::chrono::seconds(10));
    }
  }
  close_keys();
  if (collector_.joinable()) collector_.join();
}

void sim_process::collect() {
  pollfd streams[2] = {{console_.get(), POLLIN, 0}, {error_.get(), POLLIN, 0}};
  int open_streams = 2;
  while (open_streams > 0) {
    if (poll(streams, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || !(streams[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char bytes[4096];
      ssize_t count = read(streams[i].fd, bytes, sizeof bytes);
      if (count <= 0) {
        streams[i].fd = -1;
        --open_streams;
        continue;
      }
      std::lock_guard lock(mutex_);
      (i == 0 ? output_ : errors_).append(bytes, static_cast<size_t>(count));
      changed_.notify_all();
    }
  }
  std::lock_guard lock(mutex_);
  streams_closed_ = true;
  changed_.notify_all();
}

void sim_process::type(std::string_view keys) {
  const char *data = keys.data();
  size_t left = keys.size();
  while (keys_ && left > 0) {
    ssize_t written = write(keys_.get(), data, left);
    if (written <= 0) return;
    data += written;
    left -= static_cast<size_t>(written);
  }
}

void sim_process::close_keys() { keys_.reset(); }

size_t sim_process::wait_for(std::string_view text, size_t from,
                             std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  size_t found = std::string::npos;
  changed_.wait_for(lock, timeout, [&] {
    found = output_.find(text, from);
    return found != std::string::npos || streams_closed_;
  });
  found = output_.find(text, from);
  return found == std::string::npos ? found : found + text.size();
}

size_t sim_process::count(std::string_view text) const {
  std::lock_guard lock(mutex_);
  size_t occurrences = 0;
  for (size_t at = output_.find(text); at != std::string::npos;
       at = output_.find(text, at + text.size())) {
    ++occurrences;
  }
  return occurrences;
}

std::string sim_process::output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

std::string sim_process::errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

int sim_process::wait_exit(std::chrono::milliseconds timeout) {
  if (ended_) return exit_status_;
  if (!process_.running()) return -1;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const auto status = process_.poll()) {
      ended_ = true;
      exit_status_ = *status;
      return *status;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

temporary_folder::temporary_folder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "discbox-test.XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  open_to_started_programs(path_);
}

temporary_folder::~temporary_folder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> read_lines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::size_t count_starting(const std::vector<std::string> &lines, const std::string &prefix) {
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(),
                    [&](const std::string &line) { return line.starts_with(prefix); }));
}
