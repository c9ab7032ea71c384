// What the playback benchmarks share: title files made by the disc
// generator or encoded from synthesised music, child processes with their
// CPU time, and the monotonic clock.
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
#include <cstdlib>
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

// Encodes `seconds` of music-like sound (a swept tone over noise, with
// tremolo; `tone` in Hz moves the sweep, so that titles differ) as a
// 128 kbit/s title at `path` with lame. Silent frames cost a decoder a
// fraction of what real audio costs, so references are made of this. False
// when sox or lame failed.
inline bool encode_music(const std::string &path, int seconds, int tone) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  const std::string wav = path + ".wav";
  const std::string make = "sox -n -r 44100 -b 16 -c 2 " + wav + " synth " +
                           std::to_string(seconds) + " sine " + std::to_string(tone) + ":" +
                           std::to_string(tone * 4) + " pinknoise tremolo 6 vol 0.5";
  const std::string encode = "lame --quiet -b 128 " + wav + " " + path;
  const bool made = std::system((make + " >/dev/null 2>&1").c_str()) == 0 &&
                    std::system((encode + " >/dev/null 2>&1").c_str()) == 0;
  std::filesystem::remove(wav);
  return made;
}

// The MPEG-1 Layer III frames of a constant-bitrate 44.1 kHz title, walked
// by their headers.
inline unsigned int count_frames(const std::string &path) {
  static constexpr unsigned int kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                            112, 128, 160, 192, 224, 256, 320, 0};
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  unsigned int frames = 0;
  for (std::size_t at = 0; at + 4 <= bytes.size();) {
    const auto b1 = static_cast<std::uint8_t>(bytes[at + 1]);
    const auto b2 = static_cast<std::uint8_t>(bytes[at + 2]);
    const unsigned int rate = kbps[b2 >> 4];
    if (static_cast<std::uint8_t>(bytes[at]) != 0xFF || (b1 & 0xE0) != 0xE0 || rate == 0) break;
    at += rate * 144000u / 44100u + ((b2 & 0x02) ? 1 : 0);
    ++frames;
  }
  return frames;
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

// A new folder under the temporary directory that the programs the player
// starts can write their logs into: run as root, the player starts its
// decoder and PCM player as its own user (or nobody), which may not write
// into a folder of root's. Empty when none could be made.
inline std::string folder_for_started_programs(const std::string &name) {
  std::string path = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
  if (mkdtemp(path.data()) == nullptr || chmod(path.c_str(), 0777) != 0) return {};
  return path;
}

inline std::string frame_sink() {
  return std::string(DISCBOX_BINARY_DIR) + "/tools/frame-sink/frame-sink";
}

}  // namespace bench
