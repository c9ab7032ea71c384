// The stand-in players' file handling (sink_files.h).
#include "sink_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sink {

std::string from_environment(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

int open_append(const char *tool, const std::string &path) {
  if (path.empty()) return -1;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) std::fprintf(stderr, "%s: %s: %s\n", tool, path.c_str(), std::strerror(errno));
  return fd;
}

void write_all(int fd, const void *data, std::size_t count) {
  const auto *bytes = static_cast<const char *>(data);
  while (fd >= 0 && count > 0) {
    const ssize_t written = write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
}

void write_pid_file(const char *tool, const std::string &path) {
  const int fd = open_append(tool, path);
  if (fd < 0) return;
  const std::string line = std::to_string(getpid()) + "\n";
  write_all(fd, line.data(), line.size());
  close(fd);
}

void write_times_line(int fd, std::int64_t now, std::uint64_t received,
                      std::optional<std::uint64_t> played) {
  std::string line = std::to_string(now) + " " + std::to_string(received);
  if (played) line += " " + std::to_string(*played);
  line += "\n";
  write_all(fd, line.data(), line.size());
}

bool parse_speed(const std::string &text, double &speed) {
  char *end = nullptr;
  speed = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && speed >= 0 && speed <= 1e6;
}

}  // namespace sink
