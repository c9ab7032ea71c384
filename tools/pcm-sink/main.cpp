// pcm-sink: stands in for the PCM player of digital CD playback. It takes
// the player's command line, reads raw CD audio (16-bit stereo at 44 100 Hz,
// 176 400 bytes a second) from standard input into a sound card's buffer
// (the player's --buffer-time) that plays at real-time pace, and appends
// what it received to a file, so that tests and benchmarks can tell which
// sectors were played and when. Each time the buffer runs dry it notes an
// underrun, the silence a listener would hear. It ends at the end of its
// input or on SIGTERM, and plays nothing.
#include <fcntl.h>
#include <signal.h>
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
#include "sound_card.h"

namespace {

constexpr char usage[] =
    "usage: pcm-sink [-q] [-t raw] [-f cd] [-D DEVICE] [--buffer-time MICROSECONDS] [-]\n"
    "Reads raw CD audio from standard input into a sound card's buffer of\n"
    "MICROSECONDS (default 500000) that plays at real-time pace, and appends\n"
    "every byte received to a file. The other arguments are the PCM player's;\n"
    "they have no effect. Settings come from the environment:\n"
    "  PCM_SINK_OUTPUT=FILE      append the received bytes to FILE\n"
    "  PCM_SINK_TIMES=FILE       append \"<monotonic ns> <bytes so far> <bytes played>\"\n"
    "                            per read\n"
    "  PCM_SINK_UNDERRUNS=FILE   append \"underrun <monotonic ns> <ns long> <bytes\n"
    "                            played before>\" as each underrun ends; SIGUSR1\n"
    "                            appends \"underruns <count> <ns in all> <dry now: 0/1>\"\n"
    "                            (to standard error without FILE)\n"
    "  PCM_SINK_PID_FILE=FILE    append this process's id to FILE\n"
    "  PCM_SINK_SPEED=FACTOR     play FACTOR times faster than real time\n"
    "  PCM_SINK_PACE=0           take the audio as fast as it comes\n"
    "  PCM_SINK_EXIT_AFTER=BYTES end after taking BYTES, as a player that dies\n";

constexpr double bytes_per_second = 44100 * 4;
// One CD sector a read: the card's buffer fills in small steps.
constexpr std::size_t chunk_bytes = 2352;
// aplay's buffer when it is not given one.
constexpr double default_buffer_microseconds = 500000;

struct settings {
  std::string output, times, underruns, pid_file;
  double speed = 1;
  double buffer_microseconds = default_buffer_microseconds;
  std::uint64_t exit_after = 0;  // 0: never
};

volatile sig_atomic_t report_asked = 0;

void ask_for_report(int) { report_asked = 1; }

// SIGUSR1 asks for the report. Without SA_RESTART a read waiting for audio
// returns, so the report goes out at once.
void catch_report_requests() {
  struct sigaction action {};
  action.sa_handler = ask_for_report;
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, nullptr);
}

bool parse_buffer_time(const std::string &text, double &microseconds) {
  char *end = nullptr;
  microseconds = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && microseconds >= 1000 && microseconds <= 10e6;
}

// The underruns so far, and whether the card is dry now.
struct underrun_log {
  int fd = -1;
  std::uint64_t count = 0;
  std::int64_t total = 0;

  void note(const sink::underrun &silence) {
    ++count;
    total += silence.length;
    if (fd < 0) return;  // only a report asked for goes to standard error
    line("underrun " + std::to_string(silence.start) + " " + std::to_string(silence.length) + " " +
         std::to_string(silence.offset));
  }
  void report(bool dry) {
    line("underruns " + std::to_string(count) + " " + std::to_string(total) + " " +
         (dry ? "1" : "0"));
  }
  void line(const std::string &text) const {
    const std::string out = text + "\n";
    sink::write_all(fd >= 0 ? fd : STDERR_FILENO, out.data(), out.size());
  }
};

int fail(const std::string &problem) {
  std::fprintf(stderr, "pcm-sink: %s\n%s", problem.c_str(), usage);
  return 2;
}

// -1 when the sink should run; otherwise the exit status.
int parse(int argc, char **argv, settings &s) {
  s.output = sink::from_environment("PCM_SINK_OUTPUT");
  s.times = sink::from_environment("PCM_SINK_TIMES");
  s.underruns = sink::from_environment("PCM_SINK_UNDERRUNS");
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
    if (argument == "-" || argument == "-q") continue;
    std::string buffer_time;
    if (argument.starts_with("--buffer-time=")) {
      buffer_time = argument.substr(std::strlen("--buffer-time="));
    } else if (argument == "--buffer-time" && i + 1 < argc) {
      buffer_time = argv[++i];
    } else if ((argument == "-t" || argument == "-f" || argument == "-D") && i + 1 < argc) {
      ++i;
      continue;
    } else {
      return fail("unknown argument: " + argument);
    }
    if (!parse_buffer_time(buffer_time, s.buffer_microseconds)) {
      return fail("bad buffer time: " + buffer_time);
    }
    continue;
  }
  return -1;
}

}  // namespace

int main(int argc, char **argv) {
  settings s;
  if (const int status = parse(argc, argv, s); status >= 0) return status;
  catch_report_requests();
  sink::write_pid_file("pcm-sink", s.pid_file);
  const int output = sink::open_append("pcm-sink", s.output);
  const int times = sink::open_append("pcm-sink", s.times);
  underrun_log underruns;
  underruns.fd = sink::open_append("pcm-sink", s.underruns);
  const bool paced = s.speed > 0;
  // Faster than real time, the card plays its buffer faster too.
  const auto buffer_bytes =
      static_cast<std::uint64_t>(s.buffer_microseconds / 1e6 * bytes_per_second) / 4 * 4;
  sink::sound_card card(buffer_bytes, bytes_per_second * (paced ? s.speed : 1));
  std::uint8_t chunk[chunk_bytes];
  std::uint64_t received = 0;
  for (;;) {
    if (report_asked) {
      report_asked = 0;
      underruns.report(paced && card.dry(sink::now_nanoseconds()));
    }
    std::size_t wanted = sizeof chunk;
    if (s.exit_after > 0) {
      if (received >= s.exit_after) break;
      wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, s.exit_after - received));
    }
    if (paced) sink::sleep_until(card.room_at(sink::now_nanoseconds(), wanted));
    const ssize_t count = read(STDIN_FILENO, chunk, wanted);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    received += static_cast<std::uint64_t>(count);
    sink::write_all(output, chunk, static_cast<size_t>(count));
    const std::int64_t now = sink::now_nanoseconds();
    if (!paced) {
      if (times >= 0) sink::write_times_line(times, now, received, received);
      continue;
    }
    if (const auto silence = card.arrive(now, static_cast<std::size_t>(count))) {
      underruns.note(*silence);
    }
    if (times >= 0) sink::write_times_line(times, now, received, card.played(now));
  }
  // At the end of its input a player plays out what its card holds.
  if (paced) sink::sleep_until(card.drained_at(sink::now_nanoseconds()));
  return 0;
}
