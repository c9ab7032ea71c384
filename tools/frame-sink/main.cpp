// frame-sink: stands in for the MP3 decoder. It takes the decoder's command
// line, reads the frame stream from standard input at the pace a player
// would, and appends what it received to a file, so that tests and
// benchmarks can compare it with the frames they expected. It ends at the
// end of its input or on SIGTERM, and plays nothing.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame_pacer.h"
#include "util/clock.h"

namespace {

constexpr char usage[] =
    "usage: frame-sink [-] [-b KILOBYTES] [--output FILE] [--times FILE] [--pid-file FILE]\n"
    "                  [--speed FACTOR] [--no-pace]\n"
    "Reads MPEG-1 Layer III frames from standard input at a player's pace (1152\n"
    "samples at 44100 Hz a frame) and appends every byte received to FILE.\n"
    "  -                 read standard input (the only input there is)\n"
    "  -b KILOBYTES      accepted for the decoder's command line; no effect\n"
    "  --output FILE     append the received bytes to FILE (FRAME_SINK_OUTPUT)\n"
    "  --times FILE      append \"<monotonic ns> <bytes so far>\" per read (FRAME_SINK_TIMES)\n"
    "  --pid-file FILE   append this process's id to FILE (FRAME_SINK_PID_FILE)\n"
    "  --speed FACTOR    play FACTOR times faster than real time (FRAME_SINK_SPEED)\n"
    "  --no-pace         take the stream as fast as it comes (FRAME_SINK_PACE=0)\n"
    "For tests of a decoder that hangs: FRAME_SINK_STALL=1 never reads its input,\n"
    "FRAME_SINK_IGNORE_TERM=1 ignores SIGTERM.\n"
    "For tests of a decoder that dies: FRAME_SINK_EXIT_AFTER=BYTES keeps the first\n"
    "BYTES received and exits with status 3; with FRAME_SINK_EXIT_ONCE=FILE only\n"
    "the sink that creates FILE does so, the ones after it go on.\n";

constexpr int exit_status_died = 3;

struct settings {
  std::string output, times, pid_file, exit_once;
  double speed = 1;
  bool stall = false, ignore_term = false;
  std::uint64_t exit_after = 0;  // 0: never
};

std::string from_environment(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool parse_speed(const std::string &text, double &speed) {
  char *end = nullptr;
  speed = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && speed >= 0 && speed <= 1e6;
}

int fail(const std::string &problem) {
  std::fprintf(stderr, "frame-sink: %s\n%s", problem.c_str(), usage);
  return 2;
}

// -1 when the sink should run; otherwise the exit status.
int parse(int argc, char **argv, settings &s) {
  s.output = from_environment("FRAME_SINK_OUTPUT");
  s.times = from_environment("FRAME_SINK_TIMES");
  s.pid_file = from_environment("FRAME_SINK_PID_FILE");
  const std::string pace = from_environment("FRAME_SINK_PACE");
  if (pace == "0" || pace == "off") s.speed = 0;
  const std::string speed = from_environment("FRAME_SINK_SPEED");
  if (!speed.empty() && s.speed != 0 && !parse_speed(speed, s.speed)) {
    return fail("bad FRAME_SINK_SPEED: " + speed);
  }
  s.stall = from_environment("FRAME_SINK_STALL") == "1";
  s.ignore_term = from_environment("FRAME_SINK_IGNORE_TERM") == "1";
  if (const std::string bytes = from_environment("FRAME_SINK_EXIT_AFTER"); !bytes.empty()) {
    char *end = nullptr;
    s.exit_after = std::strtoull(bytes.c_str(), &end, 10);
    if (*end != '\0' || s.exit_after == 0) return fail("bad FRAME_SINK_EXIT_AFTER: " + bytes);
  }
  s.exit_once = from_environment("FRAME_SINK_EXIT_ONCE");
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool has_value = i + 1 < argc;
    if (argument == "-") continue;
    if (argument == "--help") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (argument == "--no-pace") {
      s.speed = 0;
    } else if (argument == "-b" && has_value) {
      ++i;
    } else if (argument == "--output" && has_value) {
      s.output = argv[++i];
    } else if (argument == "--times" && has_value) {
      s.times = argv[++i];
    } else if (argument == "--pid-file" && has_value) {
      s.pid_file = argv[++i];
    } else if (argument == "--speed" && has_value) {
      if (!parse_speed(argv[++i], s.speed)) return fail("bad --speed: " + std::string(argv[i]));
    } else {
      return fail("unknown argument: " + argument);
    }
  }
  return -1;
}

int open_append(const std::string &path) {
  if (path.empty()) return -1;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) std::fprintf(stderr, "frame-sink: %s: %s\n", path.c_str(), std::strerror(errno));
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

}  // namespace

int main(int argc, char **argv) {
  settings s;
  if (const int status = parse(argc, argv, s); status >= 0) return status;
  if (s.ignore_term) signal(SIGTERM, SIG_IGN);
  if (const int pid_fd = open_append(s.pid_file); pid_fd >= 0) {
    const std::string line = std::to_string(getpid()) + "\n";
    write_all(pid_fd, line.data(), line.size());
    close(pid_fd);
  }
  if (s.stall) {
    for (;;) pause();
  }
  if (s.exit_after != 0 && !s.exit_once.empty()) {
    const int marker = open(s.exit_once.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (marker < 0) s.exit_after = 0;  // an earlier sink has died already
    if (marker >= 0) close(marker);
  }
  const int output = open_append(s.output);
  const int times = open_append(s.times);
  frame_pacer pacer(s.speed);
  // Paced, a small read keeps no more than about a frame ahead of the
  // player, as a decoder feeding a sound card would.
  static std::uint8_t chunk[65536];
  const size_t chunk_size = s.speed > 0 ? 512 : sizeof chunk;
  std::uint64_t received = 0;
  for (;;) {
    const ssize_t count = read(STDIN_FILENO, chunk, chunk_size);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    if (s.exit_after != 0 && received + static_cast<std::uint64_t>(count) >= s.exit_after) {
      write_all(output, chunk, static_cast<size_t>(s.exit_after - received));
      return exit_status_died;
    }
    received += static_cast<std::uint64_t>(count);
    write_all(output, chunk, static_cast<size_t>(count));
    if (times >= 0) {
      const std::string line =
          std::to_string(util::monotonic_ns()) + " " + std::to_string(received) + "\n";
      write_all(times, line.data(), line.size());
    }
    pacer.take(chunk, static_cast<size_t>(count));
  }
  return 0;
}
