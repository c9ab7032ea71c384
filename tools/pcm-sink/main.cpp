// pcm-sink: stands in for the PCM player of digital CD playback. It takes
// the player's command line, reads raw CD audio (16-bit stereo at 44 100 Hz,
// 176 400 bytes a second) from standard input at the pace a sound card
// would, and appends what it received to a file, so that tests and
// benchmarks can tell which sectors were played and when. It ends at the
// end of its input or on SIGTERM, and plays nothing.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/clock.h"

namespace {

constexpr char usage[] =
    "usage: pcm-sink [-q] [-t raw] [-f cd] [--buffer-time MICROSECONDS] [-]\n"
    "Reads raw CD audio from standard input at a sound card's pace and appends\n"
    "every byte received to a file. The arguments are the PCM player's; they\n"
    "have no effect. Settings come from the environment:\n"
    "  PCM_SINK_OUTPUT=FILE      append the received bytes to FILE\n"
    "  PCM_SINK_TIMES=FILE       append \"<monotonic ns> <bytes so far>\" per read\n"
    "  PCM_SINK_PID_FILE=FILE    append this process's id to FILE\n"
    "  PCM_SINK_SPEED=FACTOR     play FACTOR times faster than real time\n"
    "  PCM_SINK_PACE=0           take the audio as fast as it comes\n"
    "  PCM_SINK_EXIT_AFTER=BYTES end after taking BYTES, as a player that dies\n";

constexpr double bytes_per_second = 44100 * 4;
// One CD sector a read: the sound card's buffer, as far as the writer sees.
constexpr std::size_t chunk_bytes = 2352;

struct settings {
  std::string output, times, pid_file;
  double speed = 1;
  std::uint64_t exit_after = 0;  // 0: never
};

std::string from_environment(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

int fail(const std::string &problem) {
  std::fprintf(stderr, "pcm-sink: %s\n%s", problem.c_str(), usage);
  return 2;
}

// -1 when the sink should run; otherwise the exit status.
int parse(int argc, char **argv, settings &s) {
  s.output = from_environment("PCM_SINK_OUTPUT");
  s.times = from_environment("PCM_SINK_TIMES");
  s.pid_file = from_environment("PCM_SINK_PID_FILE");
  const std::string speed = from_environment("PCM_SINK_SPEED");
  if (!speed.empty()) {
    char *end = nullptr;
    s.speed = std::strtod(speed.c_str(), &end);
    if (*end != '\0' || s.speed <= 0 || s.speed > 1e6) return fail("bad PCM_SINK_SPEED: " + speed);
  }
  const std::string pace = from_environment("PCM_SINK_PACE");
  if (pace == "0" || pace == "off") s.speed = 0;
  const std::string exit_after = from_environment("PCM_SINK_EXIT_AFTER");
  if (!exit_after.empty()) s.exit_after = std::strtoull(exit_after.c_str(), nullptr, 10);
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (argument == "-" || argument == "-q" || argument.starts_with("--buffer-time=")) continue;
    if ((argument == "-t" || argument == "-f" || argument == "--buffer-time") && i + 1 < argc) {
      ++i;
      continue;
    }
    return fail("unknown argument: " + argument);
  }
  return -1;
}

int open_append(const std::string &path) {
  if (path.empty()) return -1;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) std::fprintf(stderr, "pcm-sink: %s: %s\n", path.c_str(), std::strerror(errno));
  return fd;
}

void write_all(int fd, const void *data, size_t count) {
  const auto *bytes = static_cast<const char *>(data);
  while (fd >= 0 && count > 0) {
    const ssize_t written = write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

// On the clock util::monotonic_ns() reads, which the deadlines come from.
void sleep_until(std::int64_t deadline) {
  timespec until{static_cast<time_t>(deadline / 1000000000),
                 static_cast<long>(deadline % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
  }
}

}  // namespace

int main(int argc, char **argv) {
  settings s;
  if (const int status = parse(argc, argv, s); status >= 0) return status;
  if (const int pid_fd = open_append(s.pid_file); pid_fd >= 0) {
    const std::string line = std::to_string(getpid()) + "\n";
    write_all(pid_fd, line.data(), line.size());
    close(pid_fd);
  }
  const int output = open_append(s.output);
  const int times = open_append(s.times);
  std::uint8_t chunk[chunk_bytes];
  std::uint64_t received = 0;
  std::int64_t played_until = 0;  // monotonic ns at which what came so far has been played
  for (;;) {
    std::size_t wanted = sizeof chunk;
    if (s.exit_after > 0) {
      if (received >= s.exit_after) break;
      wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, s.exit_after - received));
    }
    const ssize_t count = read(STDIN_FILENO, chunk, wanted);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    received += static_cast<std::uint64_t>(count);
    write_all(output, chunk, static_cast<size_t>(count));
    const std::int64_t now = util::monotonic_ns();
    if (times >= 0) {
      const std::string line = std::to_string(now) + " " + std::to_string(received) + "\n";
      write_all(times, line.data(), line.size());
    }
    if (s.speed <= 0) continue;
    // After a gap in the stream (a pause) the sound goes on from now.
    if (played_until < now) played_until = now;
    played_until += static_cast<std::int64_t>(count / (bytes_per_second * s.speed) * 1e9);
    sleep_until(played_until);
  }
  return 0;
}
