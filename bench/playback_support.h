// What the playback benchmarks share: title files made by the disc
// generator, child processes with their CPU time, and the monotonic clock.
// Header-only, since each benchmark is one program of its own.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mkdisc/title_audio.h"

extern char **environ;

namespace bench {

inline std::int64_t now_nanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

inline double seconds(const timeval &time) { return time.tv_sec + time.tv_usec / 1e6; }
inline double cpu_seconds(const rusage &usage) {
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Writes a title of `frames` silent frames at `kbps` to `path`.
inline void write_title(const std::string &path, unsigned int frames, unsigned int kbps) {
  mkdisc::title_options options;
  options.frames = frames;
  options.bitrate = kbps;
  const std::vector<std::uint8_t> bytes = mkdisc::title_bytes(options, {"t", "a", "b"}, 1);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Starts `argv` (found on PATH) with `input` as its standard input (-1: ours)
// and `output` as its standard output (-1: /dev/null). Returns its pid, or -1.
inline pid_t spawn(const std::vector<std::string> &argv, int input, int output = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  if (output >= 0) {
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  std::vector<char *> words;
  for (const std::string &word : argv) words.push_back(const_cast<char *>(word.c_str()));
  words.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, words[0], &actions, nullptr, words.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for `pid`; its CPU time in seconds, or -1 when it did not end well.
inline double wait_cpu_seconds(pid_t pid) {
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  return cpu_seconds(usage);
}

inline bool on_path(const std::string &program) {
  const pid_t pid = spawn({program, "--version"}, -1);
  return pid > 0 && wait_cpu_seconds(pid) >= 0;
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

inline std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string frame_sink() {
  return std::string(DISCBOX_BINARY_DIR) + "/tools/frame-sink/frame-sink";
}

}  // namespace bench
