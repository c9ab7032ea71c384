// Without a working output mpg123 would end at once and be started again,
// and aplay would fail on every play: so the output is tried once, at
// start, with aplay writing a moment of silence, and the simulation stays
// with its silent stand-ins when that fails. The try has a time limit of
// its own, so that a sound server that hangs cannot hold the start.
#include "program/sound_output.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emu/drive.h"
#include "util/clock.h"
#include "util/unique_fd.h"

namespace sim {

namespace {

constexpr char aplay[] = "/usr/bin/aplay";
constexpr char mpg123[] = "/usr/bin/mpg123";
constexpr std::int64_t probe_limit_ns = 3'000'000'000;
// One CD sector of raw audio.
constexpr std::size_t sector_bytes = 2352;

std::string sound_device() {
  const char *device = std::getenv("SOUND_DEVICE");
  return device != nullptr ? device : "";
}

// aplay's arguments for raw CD audio from standard input on the output;
// `extra` goes before the "-".
std::vector<std::string> aplay_arguments(const std::vector<std::string> &extra) {
  std::vector<std::string> arguments{aplay, "-q", "-t", "raw", "-f", "cd"};
  if (!sound_device().empty()) arguments.insert(arguments.end(), {"-D", sound_device()});
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  arguments.push_back("-");
  return arguments;
}

[[noreturn]] void exec_arguments(const std::vector<std::string> &arguments) {
  std::vector<char *> argv;
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// Starts aplay reading from the returned pipe (-1 on failure); its errors go
// to `error_fd` (-1: /dev/null).
util::unique_fd start_aplay(const std::vector<std::string> &extra, int error_fd, pid_t &child) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return util::unique_fd();
  util::unique_fd read_end(ends[0]), write_end(ends[1]);
  child = fork();
  if (child < 0) return util::unique_fd();
  if (child == 0) {
    dup2(read_end.get(), STDIN_FILENO);
    const int quiet = error_fd >= 0 ? error_fd : open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    exec_arguments(aplay_arguments(extra));
  }
  return write_end;
}

// The last line of what the try wrote on standard error.
std::string last_line(int fd) {
  std::string text;
  char buffer[512];
  ssize_t count;
  while (text.size() < 4096 && (count = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(count));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::size_t start = text.rfind('\n');
  text = start == std::string::npos ? text : text.substr(start + 1);
  for (char &c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text.substr(0, 200);
}

bool try_output(std::string &reason) {
  for (const char *program : {aplay, mpg123}) {
    if (access(program, X_OK) != 0) {
      reason = std::string(program) + ": " + std::strerror(errno);
      return false;
    }
  }
  std::FILE *errors = std::tmpfile();
  if (errors == nullptr) {
    reason = std::string("temporary file: ") + std::strerror(errno);
    return false;
  }
  pid_t child = -1;
  util::unique_fd input = start_aplay({}, fileno(errors), child);
  bool ended = false;
  int status = 0;
  if (input) {
    // A tenth of a second of silence, then the end of the input.
    const std::vector<char> silence(sector_bytes * 8, 0);
    signal(SIGPIPE, SIG_IGN);
    if (write(input.get(), silence.data(), silence.size()) < 0) {
      // aplay failed already: its status says why.
    }
    signal(SIGPIPE, SIG_DFL);
    input.reset();
    const std::int64_t deadline = util::monotonic_ns() + probe_limit_ns;
    while (!(ended = waitpid(child, &status, WNOHANG) == child) &&
           util::monotonic_ns() < deadline) {
      const timespec pause{0, 10'000'000};
      nanosleep(&pause, nullptr);
    }
    if (!ended) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
    }
  }
  const bool works = ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!works) {
    std::rewind(errors);
    reason = !input && child < 0 ? std::string("cannot start aplay: ") + std::strerror(errno)
             : !ended            ? std::string("aplay did not finish within 3 s")
                                 : last_line(fileno(errors));
    if (reason.empty()) reason = "aplay failed";
  }
  std::fclose(errors);
  return works;
}

std::string folder_of_this_program() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  path[length] = '\0';
  const std::string text(path);
  return text.substr(0, text.rfind('/'));
}

// The wrapper beside the simulator in the build tree, else the installed one.
std::string decoder_wrapper() {
  const std::string here = folder_of_this_program();
  const std::string built = here + "/tools/decoder/mpg123";
  if (access(built.c_str(), X_OK) == 0) return built;
  return here + "/" DISCBOX_SIM_DECODER_FROM_BIN "/mpg123";
}

bool ends_with(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The analog output's process: puts out the drive's sectors while it plays,
// through an aplay started for each stretch of playing and killed at once
// when the drive stops playing, so that pause, stop and eject are heard
// when they happen, not after a buffer's worth.
[[noreturn]] void play_analog_output() {
  signal(SIGPIPE, SIG_IGN);
  std::uint8_t sector[sector_bytes];
  int next = 0;
  pid_t player = -1;
  util::unique_fd output;
  auto stop_player = [&] {
    output.reset();
    if (player > 0) {
      kill(player, SIGKILL);
      waitpid(player, nullptr, 0);
      player = -1;
    }
  };
  for (;;) {
    const analog_step step = next_analog_sector(next, sector);
    if (step != analog_step::sector) {
      // Ahead of the head, a sector's time is 13 ms: look again well within
      // it. Silent, a start heard 20 ms late is not noticed.
      if (step == analog_step::silent) stop_player();
      const timespec pause{0, step == analog_step::silent ? 20'000'000 : 5'000'000};
      nanosleep(&pause, nullptr);
      continue;
    }
    if (!output) {
      // A small buffer and pipe: the drive's head, not the buffer, sets
      // what is heard.
      output = start_aplay({"--buffer-time=100000"}, -1, player);
      if (output) fcntl(output.get(), F_SETPIPE_SZ, 4096);
    }
    if (!output || write(output.get(), sector, sizeof sector) != sizeof sector) {
      // The output failed now although it worked at start: try again a
      // second later rather than at once.
      stop_player();
      const timespec pause{1, 0};
      nanosleep(&pause, nullptr);
    }
  }
}

}  // namespace

bool choose_sound_output(sim_options &options) {
  std::string reason;
  if (!try_output(reason)) {
    std::fprintf(stderr,
                 "discbox-sim: no working sound output (%s): the simulation goes on silent\n",
                 reason.c_str());
    return false;
  }
  machine_configuration &machine = options.machine;
  if (ends_with(machine.decoder, "/frame-sink")) machine.decoder = decoder_wrapper();
  if (ends_with(machine.pcm_player, "/pcm-sink")) machine.pcm_player = aplay;
  return true;
}

pid_t start_analog_output(pid_t player_group, const sigset_t &original_mask) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    // Nothing of the supervisor's stays open here: above all not the key
    // relay, whose end the player must see when the supervisor closes it.
    close_range(3, ~0U, 0);
    setpgid(0, player_group);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigprocmask(SIG_SETMASK, &original_mask, nullptr);
    play_analog_output();
  }
  if (child > 0) setpgid(child, player_group);
  return child;
}

}  // namespace sim
