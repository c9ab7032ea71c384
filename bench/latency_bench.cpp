// Key-to-silence latency: from the key B (pause) or E (next title) to the
// last byte of the old stream reaching the decoder, in milliseconds. Whatever
// the pipeline has already handed on (the writer's stream buffer, the pipe,
// the frame held back) is still heard after the key, at the player's pace.
//
// The whole MP3 mode runs in a child process on the emulated machine, with
// frame-sink as a real-time decoder that logs when each byte arrived. The
// album alternates two bitrates, so that a change of title shows in the
// stream as a change of frame length.
#include <fcntl.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#include "ctl/ctl.h"
#include "emu/machine.h"
#include "mp3/mp3_mode.h"
#include "playback_support.h"

namespace {

using namespace std::chrono_literals;

constexpr int repetitions = 5;
constexpr auto settle = 1500ms;  // longer than any latency expected

struct arrival {
  std::int64_t time;    // monotonic ns
  std::uint64_t bytes;  // received so far
};

std::vector<arrival> arrivals(const std::string &times) {
  std::vector<arrival> log;
  std::istringstream in(bench::slurp(times));
  for (arrival a; in >> a.time >> a.bytes;) log.push_back(a);
  return log;
}

// When the byte at `offset` of the stream arrived (0: not yet).
std::int64_t arrival_of(const std::vector<arrival> &log, std::uint64_t offset) {
  for (const arrival &a : log) {
    if (a.bytes > offset) return a.time;
  }
  return 0;
}

// The offset of the first frame at or after `from` whose bitrate differs
// from the frame before it.
std::uint64_t title_change_after(const std::string &stream, std::uint64_t from) {
  std::size_t offset = 0;
  int previous = -1;
  while (offset + 3 <= stream.size()) {
    const auto b2 = static_cast<std::uint8_t>(stream[offset + 2]);
    const int kbps_index = b2 >> 4;
    if (offset >= from && previous >= 0 && kbps_index != previous) return offset;
    previous = kbps_index;
    offset += kbps_index == 9 ? 417 : 626;  // 128 or 192 kbit/s, no padding
  }
  return 0;
}

void type(int keys, const char *key) {
  if (write(keys, key, 1) != 1) std::abort();
}

[[noreturn]] void run_mode(int key_input, const std::string &console) {
  const int out = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(out, STDOUT_FILENO);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  pipe_keyboard[1] = key_input;
  main_mpg();
}

}  // namespace

int main() {
  const std::string folder = std::filesystem::temp_directory_path() /
                             ("discbox-latency-bench-" + std::to_string(getpid()));
  for (int t = 1; t <= 2 * repetitions + 2; ++t) {
    bench::write_title(
        folder + "/disc/A/B/t" + std::string(t < 10 ? "0" : "") + std::to_string(t) + ".mp3", 3000,
        t % 2 ? 128 : 192);
  }
  const std::string received = folder + "/received", times = folder + "/times";
  setenv("FRAME_SINK_OUTPUT", received.c_str(), 1);
  setenv("FRAME_SINK_TIMES", times.c_str(), 1);
  sim::machine_config().cdrom_mount_point = folder + "/disc";
  sim::machine_config().decoder = bench::frame_sink();
  sim::reset_machine();

  int keys[2];
  if (pipe(keys) != 0) return 1;
  std::fflush(stdout);
  const pid_t mode = fork();
  if (mode == 0) run_mode(keys[0], folder + "/console");
  close(keys[0]);
  while (bench::slurp(folder + "/console").find("now\n") == std::string::npos) {
    std::this_thread::sleep_for(10ms);
  }
  type(keys[1], "m");
  type(keys[1], "n");
  std::this_thread::sleep_for(2s);

  std::vector<double> pause_ms, change_ms;
  for (int i = 0; i < repetitions; ++i) {
    const std::int64_t pressed = bench::now_nanoseconds();
    type(keys[1], "b");
    std::this_thread::sleep_for(settle);
    std::int64_t last = pressed;
    for (const arrival &a : arrivals(times)) {
      if (a.time > last && a.time < pressed + std::chrono::nanoseconds(settle).count())
        last = a.time;
    }
    pause_ms.push_back((last - pressed) / 1e6);
    type(keys[1], "b");
    std::this_thread::sleep_for(1s);
  }
  for (int i = 0; i < repetitions; ++i) {
    const std::vector<arrival> before = arrivals(times);
    const std::uint64_t received_then = before.empty() ? 0 : before.back().bytes;
    const std::int64_t pressed = bench::now_nanoseconds();
    type(keys[1], "e");
    std::this_thread::sleep_for(settle);
    const std::uint64_t change = title_change_after(bench::slurp(received), received_then);
    const std::int64_t last_old = change > 0 ? arrival_of(arrivals(times), change - 1) : 0;
    if (last_old > 0) change_ms.push_back((std::max(last_old, pressed) - pressed) / 1e6);
  }
  type(keys[1], "x");
  waitpid(mode, nullptr, 0);

  std::printf("key-to-silence latency, %d presses each, decoder at real-time pace\n", repetitions);
  std::printf("  frame pipe: %ld bytes; one 128 kbit/s frame lasts 26.1 ms\n",
              sysconf(_SC_PAGESIZE));
  std::printf("  B (pause):        median %6.0f ms   max %6.0f ms\n", bench::median(pause_ms),
              pause_ms.empty() ? 0 : *std::max_element(pause_ms.begin(), pause_ms.end()));
  std::printf("  E (next title):   median %6.0f ms   max %6.0f ms   (%zu measured)\n",
              bench::median(change_ms),
              change_ms.empty() ? 0 : *std::max_element(change_ms.begin(), change_ms.end()),
              change_ms.size());
  std::filesystem::remove_all(folder);
  return 0;
}
