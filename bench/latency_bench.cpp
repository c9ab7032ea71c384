// Key to heard: from a key to the moment the decoder receives the first
// byte of what the key asked for, in milliseconds, for pause (B), next and
// previous title (E, D) and stop (M). Whatever the pipeline has already
// handed on when the key comes (the frames it holds, the writer's stream
// buffer, the pipe) is still played first, at the player's pace.
//
// The whole MP3 mode runs in a child process on the emulated machine, with
// frame-sink as a real-time decoder that logs when each byte arrived. The
// titles are real encoder-made audio (synthesised music, lame at 128 kbit/s,
// each title different), so a change of title shows in the received stream
// as the new title's first bytes. Each key is pressed at a random moment of
// the pipeline's cycle, and the worst case is what counts.
// Usage: latency_bench [PRESSES] (per key, 10 by default).
#include <fcntl.h>
#include <sys/wait.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <thread>

#include "console/key_channel.h"
#include "emu/machine.h"
#include "mp3/mp3_mode.h"
#include "playback_support.h"

namespace {

using namespace std::chrono_literals;

constexpr auto settle = 1000ms;              // longer than any latency expected
constexpr auto patience = 3000ms;            // for a new title to show up at all
constexpr std::size_t pattern_bytes = 1000;  // a title's first frames: unique per title

struct arrival {
  std::int64_t time;    // monotonic ns
  std::uint64_t bytes;  // received so far
};

struct context {
  std::string folder, received, times;
  std::string title_start[3];  // per title number
  int keys = -1;
};

std::vector<arrival> arrivals(const std::string &times) {
  std::vector<arrival> log;
  std::istringstream in(bench::slurp(times));
  for (arrival a; in >> a.time >> a.bytes;) log.push_back(a);
  return log;
}

std::uint64_t received_now(const context &c) {
  const std::vector<arrival> log = arrivals(c.times);
  return log.empty() ? 0 : log.back().bytes;
}

// When the byte at `offset` of the stream arrived (0: not yet).
std::int64_t arrival_of(const std::vector<arrival> &log, std::uint64_t offset) {
  for (const arrival &a : log) {
    if (a.bytes > offset) return a.time;
  }
  return 0;
}

std::int64_t press(const context &c, char key) {
  const std::int64_t pressed = bench::now_nanoseconds();
  if (write(c.keys, &key, 1) != 1) std::abort();
  return pressed;
}

// Pause and stop: the last byte that still arrived after the key.
double until_silence(const context &c, char key) {
  const std::int64_t pressed = press(c, key);
  std::this_thread::sleep_for(settle);
  std::int64_t last = pressed;
  for (const arrival &a : arrivals(c.times)) {
    if (a.time > last) last = a.time;
  }
  return (last - pressed) / 1e6;
}

// Next and previous title: the first byte of `title` that arrived after the
// key; negative when it never came.
double until_title(const context &c, char key, int title) {
  const std::uint64_t from = received_now(c);
  const std::int64_t pressed = press(c, key);
  for (auto waited = 0ms; waited < patience; waited += 50ms) {
    std::this_thread::sleep_for(50ms);
    const std::size_t at = bench::slurp(c.received).find(c.title_start[title], from);
    if (at == std::string::npos) continue;
    const std::int64_t heard = arrival_of(arrivals(c.times), at);
    return (std::max(heard, pressed) - pressed) / 1e6;
  }
  return -1;
}

[[noreturn]] void run_mode(int key_input, const std::string &console) {
  const int out = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(out, STDOUT_FILENO);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  pipe_keyboard[1] = key_input;
  main_mpg();
}

struct key_times {
  explicit key_times(const char *key) : name(key) {}
  const char *name;
  std::vector<double> ms;
  int missed = 0;
  void add(double value) {
    if (value < 0) {
      ++missed;
    } else {
      ms.push_back(value);
    }
  }
  double worst() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

}  // namespace

int main(int argc, char **argv) {
  const int presses = argc > 1 ? std::atoi(argv[1]) : 10;
  if (presses <= 0) return 2;
  context c;
  c.folder = bench::folder_for_started_programs("discbox-latency-bench");
  if (c.folder.empty()) return 1;
  for (int t = 1; t <= 2; ++t) {
    const std::string title = c.folder + "/disc/A/B/t" + std::to_string(t) + ".mp3";
    if (!bench::encode_music(title, 30, 110 * (t + 1))) {
      std::fprintf(stderr, "sox or lame failed: scripts/install-deps.sh installs them\n");
      return 1;
    }
    c.title_start[t] = bench::slurp(title).substr(0, pattern_bytes);
  }
  c.received = c.folder + "/received";
  c.times = c.folder + "/times";
  setenv("FRAME_SINK_OUTPUT", c.received.c_str(), 1);
  setenv("FRAME_SINK_TIMES", c.times.c_str(), 1);
  sim::machine_config().cdrom_mount_point = c.folder + "/disc";
  sim::machine_config().decoder = bench::frame_sink();
  sim::reset_machine();

  int keys[2];
  if (pipe(keys) != 0) return 1;
  std::fflush(stdout);
  const pid_t mode = fork();
  if (mode == 0) run_mode(keys[0], c.folder + "/console");
  close(keys[0]);
  c.keys = keys[1];
  while (bench::slurp(c.folder + "/console").find("now\n") == std::string::npos) {
    std::this_thread::sleep_for(10ms);
  }
  press(c, 'm');
  press(c, 'n');
  std::this_thread::sleep_for(2s);
  // A decoder that hears nothing falls silent at once after every key.
  if (received_now(c) == 0) {
    std::fprintf(stderr, "frame-sink received nothing in %s: nothing was measured\n",
                 c.folder.c_str());
    press(c, 'x');
    waitpid(mode, nullptr, 0);
    std::filesystem::remove_all(c.folder);
    return 1;
  }

  // A random moment of the pipeline's cycle (the pipe drains in well under
  // half a second) before each key.
  std::mt19937 random(static_cast<unsigned int>(getpid()));
  std::uniform_int_distribution<int> phase_ms(0, 400);
  const auto wait_a_while = [&] { std::this_thread::sleep_for(1ms * phase_ms(random)); };
  key_times pause{"B (pause)"}, next{"E (next title)"}, previous{"D (previous title)"},
      stop{"M (stop)"};
  for (int i = 0; i < presses; ++i) {
    wait_a_while();
    pause.add(until_silence(c, 'b'));
    press(c, 'b');
    std::this_thread::sleep_for(1s);
    wait_a_while();
    next.add(until_title(c, 'e', 2));
    wait_a_while();
    previous.add(until_title(c, 'd', 1));
    wait_a_while();
    stop.add(until_silence(c, 'm'));
    press(c, 'n');  // title 1 again, from its start
    std::this_thread::sleep_for(1s);
  }
  press(c, 'x');
  waitpid(mode, nullptr, 0);

  std::printf("key to heard, %d presses each at random moments, decoder at real-time pace\n",
              presses);
  std::printf("  128 kbit/s: one frame lasts 26.1 ms; 0.3 s are 4800 bytes\n");
  double worst = 0;
  for (const key_times *key : {&pause, &next, &previous, &stop}) {
    std::printf("  %-20s median %6.0f ms   max %6.0f ms", key->name, bench::median(key->ms),
                key->worst());
    if (key->missed > 0) std::printf("   (%d never heard)", key->missed);
    std::printf("\n");
    worst = std::max(worst, key->worst());
  }
  std::printf("  worst of all keys: %.0f ms (goal: at most 300 ms)\n", worst);
  std::filesystem::remove_all(c.folder);
  return 0;
}
