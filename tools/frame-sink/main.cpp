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
#include "play_clock.h"
#include "sink_files.h"

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

int fail(const std::string &problem) {
  std::fprintf(stderr, "frame-sink: %s\n%s", problem.c_str(), usage);
  return 2;
}

// -1 when the sink should run; otherwise the exit status.
int parse(int argc, char **argv, settings &s) {
  s.output = sink::from_environment("FRAME_SINK_OUTPUT");
  s.times = sink::from_environment("FRAME_SINK_TIMES");
  s.pid_file = sink::from_environment("FRAME_SINK_PID_FILE");
  const std::string pace = sink::from_environment("FRAME_SINK_PACE");
  if (pace == "0" || pace == "off") s.speed = 0;
  const std::string speed = sink::from_environment("FRAME_SINK_SPEED");
  if (!speed.empty() && s.speed != 0 && !sink::parse_speed(speed, s.speed)) {
    return fail("bad FRAME_SINK_SPEED: " + speed);
  }
  s.stall = sink::from_environment("FRAME_SINK_STALL") == "1";
  s.ignore_term = sink::from_environment("FRAME_SINK_IGNORE_TERM") == "1";
  if (const std::string bytes = sink::from_environment("FRAME_SINK_EXIT_AFTER"); !bytes.empty()) {
    char *end = nullptr;
    s.exit_after = std::strtoull(bytes.c_str(), &end, 10);
    if (*end != '\0' || s.exit_after == 0) return fail("bad FRAME_SINK_EXIT_AFTER: " + bytes);
  }
  s.exit_once = sink::from_environment("FRAME_SINK_EXIT_ONCE");
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
      if (!sink::parse_speed(argv[++i], s.speed))
        return fail("bad --speed: " + std::string(argv[i]));
    } else {
      return fail("unknown argument: " + argument);
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char **argv) {
  settings s;
  if (const int status = parse(argc, argv, s); status >= 0) return status;
  if (s.ignore_term) signal(SIGTERM, SIG_IGN);
  sink::write_pid_file("frame-sink", s.pid_file);
  if (s.stall) {
    for (;;) pause();
  }
  if (s.exit_after != 0 && !s.exit_once.empty()) {
    const int marker = open(s.exit_once.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (marker < 0) s.exit_after = 0;  // an earlier sink has died already
    if (marker >= 0) close(marker);
  }
  const int output = sink::open_append("frame-sink", s.output);
  const int times = sink::open_append("frame-sink", s.times);
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
      sink::write_all(output, chunk, static_cast<size_t>(s.exit_after - received));
      return exit_status_died;
    }
    received += static_cast<std::uint64_t>(count);
    sink::write_all(output, chunk, static_cast<size_t>(count));
    if (times >= 0) sink::write_times_line(times, sink::now_nanoseconds(), received);
    pacer.take(chunk, static_cast<size_t>(count));
  }
  return 0;
}
