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

#include "play_clock.h"
#include "sink_files.h"

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

int fail(const std::string &problem) {
  std::fprintf(stderr, "pcm-sink: %s\n%s", problem.c_str(), usage);
  return 2;
}

// -1 when the sink should run; otherwise the exit status.
int parse(int argc, char **argv, settings &s) {
  s.output = sink::from_environment("PCM_SINK_OUTPUT");
  s.times = sink::from_environment("PCM_SINK_TIMES");
  s.pid_file = sink::from_environment("PCM_SINK_PID_FILE");
  const std::string speed = sink::from_environment("PCM_SINK_SPEED");
  if (!speed.empty()) {
    if (!sink::parse_speed(speed, s.speed) || s.speed == 0) {
      return fail("bad PCM_SINK_SPEED: " + speed);
    }
  }
  const std::string pace = sink::from_environment("PCM_SINK_PACE");
  if (pace == "0" || pace == "off") s.speed = 0;
  const std::string exit_after = sink::from_environment("PCM_SINK_EXIT_AFTER");
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

}  // namespace

int main(int argc, char **argv) {
  settings s;
  if (const int status = parse(argc, argv, s); status >= 0) return status;
  sink::write_pid_file("pcm-sink", s.pid_file);
  const int output = sink::open_append("pcm-sink", s.output);
  const int times = sink::open_append("pcm-sink", s.times);
  std::uint8_t chunk[chunk_bytes];
  std::uint64_t received = 0;
  sink::play_clock clock;
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
    sink::write_all(output, chunk, static_cast<size_t>(count));
    const std::int64_t now = sink::now_nanoseconds();
    if (times >= 0) sink::write_times_line(times, now, received);
    if (s.speed <= 0) continue;
    clock.play(static_cast<std::int64_t>(count / (bytes_per_second * s.speed) * 1e9), now);
  }
  return 0;
}
