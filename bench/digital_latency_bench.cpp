// Key-to-silence latency of digital CD playback: from pause (or next) to the
// moment the old audio has been played out, in milliseconds, with pcm-sink
// as a real-time sound card that logs when each byte arrived. Whatever the
// streamer holds and the pipe buffers is still heard after the key.
//
// Also the pace: audio seconds delivered per wall-clock second while
// playing, against the 1.0 a sound card takes, measured in the same run.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/cd.h"
#include "emu/machine.h"
#include "playback_support.h"

namespace {

using namespace std::chrono_literals;

constexpr int repetitions = 5;
constexpr auto settle = 1000ms;  // longer than any latency expected
constexpr double bytes_per_second = 44100 * 4;
constexpr double sink_chunk_seconds = 2352 / bytes_per_second;
constexpr double bound_ms = 300;

struct arrival {
  std::int64_t time;
  std::uint64_t bytes;
};

std::vector<arrival> arrivals(const std::string &times) {
  std::vector<arrival> log;
  std::istringstream in(bench::slurp(times));
  for (arrival a; in >> a.time >> a.bytes;) log.push_back(a);
  return log;
}

// When the sink had played everything that arrived before `until`.
std::int64_t silent_from(const std::vector<arrival> &log, std::int64_t until) {
  std::int64_t last = 0;
  for (const arrival &a : log) {
    if (a.time < until) last = a.time;
  }
  return last + static_cast<std::int64_t>(sink_chunk_seconds * 1e9);
}

// When the byte at `offset` arrived (0: not yet).
std::int64_t arrival_of(const std::vector<arrival> &log, std::uint64_t offset) {
  for (const arrival &a : log) {
    if (a.bytes > offset) return a.time;
  }
  return 0;
}

void report(const char *what, std::vector<double> values) {
  const double worst = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
  std::printf("  %-18s median %5.0f ms  max %5.0f ms  (max / %.0f ms bound: %.2f)\n", what,
              bench::median(values), worst, bound_ms, worst / bound_ms);
}

}  // namespace

int main() {
  char pattern[] = "/tmp/discbox-digital-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string folder = pattern;
  const std::string times = folder + "/times", kept = folder + "/kept.pcm";
  setenv("PCM_SINK_TIMES", times.c_str(), 1);
  setenv("PCM_SINK_OUTPUT", kept.c_str(), 1);
  sim::MachineConfig &config = sim::machine_config();
  config.no_analog_audio = true;
  config.pcm_player = std::string(DISCBOX_BINARY_DIR) + "/tools/pcm-sink/pcm-sink";
  config.cdrom_mount_point = folder + "/cdrom";
  config.floppy_mount_point = folder + "/floppy";
  config.discs = {sim::Disc{sim::Disc::Kind::audio, std::vector<int>(20, 30), {}}};
  sim::reset_machine();

  std::vector<double> pause_ms, next_ms;
  double pace = 0;
  {
    cd drive;
    drive.random(0);
    drive.play(1, 20);
    std::this_thread::sleep_for(1s);
    const auto before = arrivals(times);
    std::this_thread::sleep_for(2s);
    const auto after = arrivals(times);
    if (!before.empty() && !after.empty()) {
      pace = (after.back().bytes - before.back().bytes) / bytes_per_second /
             ((after.back().time - before.back().time) / 1e9);
    }
    for (int i = 0; i < repetitions; ++i) {
      const std::int64_t pressed = bench::now_nanoseconds();
      drive.pause();
      std::this_thread::sleep_for(settle);
      pause_ms.push_back((silent_from(arrivals(times), pressed + 900'000'000) - pressed) / 1e6);
      drive.resume();
      std::this_thread::sleep_for(500ms);
    }
    for (int i = 0; i < repetitions; ++i) {
      drive.read_status();
      const std::uint64_t received = arrivals(times).back().bytes;
      const std::int64_t pressed = bench::now_nanoseconds();
      drive.next();
      std::this_thread::sleep_for(settle);
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "T%02dS000000", drive.current() + 1);
      const std::string stream = bench::slurp(kept);
      const std::size_t at = stream.find(stamp, received);
      if (at != std::string::npos) {
        next_ms.push_back((arrival_of(arrivals(times), at) - pressed) / 1e6);
      }
    }
  }
  std::printf("digital playback, key-to-silence, %d presses each, sink at real-time pace\n",
              repetitions);
  report("pause:", pause_ms);
  report("next (new track):", next_ms);
  std::printf("  pace while playing: %.3f audio seconds per second (sound card: 1.000)\n", pace);
  std::filesystem::remove_all(folder);
  return 0;
}
