// Starting and ending the PCM player. It is started from the thread that
// streams the disc while the main process may run other threads too, so the
// child uses only calls that are safe after fork until it executes the
// player; all the player's other descriptors are close-on-exec. Like every
// program the player starts, it runs without root and capabilities
// (util::child_process::start).
#include "audio/pcm_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <utility>

#include "platform/platform.h"

namespace {

constexpr char argument_quiet[] = "-q";
constexpr char argument_type[] = "-t";
constexpr char type_raw[] = "raw";
constexpr char argument_format[] = "-f";
constexpr char format_cd[] = "cd";  // S16_LE, 44100 Hz, stereo
constexpr char argument_buffer[] = "--buffer-time";
constexpr char argument_standard_input[] = "-";
constexpr char argument_device[] = "-D";
// The ALSA device to play on, as the box's settings name it; unset or
// empty: ALSA's default.
constexpr char device_setting[] = "SOUND_DEVICE";

// Together with the piece the writer holds, at most about 0.1 s of audio
// waits where a new range can no longer take it back.
constexpr int pipe_bytes = 8192;
constexpr auto grace = std::chrono::seconds(1);  // SIGTERM to SIGKILL

// The player's command line, made before the fork: the child only
// executes it. The device is one argument of its own, never read by a
// shell, whatever it holds.
struct player_command {
  const char *arguments[12];
};

player_command command_of(const char *device) {
  const char *program = platform::pcm_player_program();
  player_command command{{program, argument_quiet, argument_type, type_raw, argument_format,
                          format_cd, argument_buffer, pcm_player_buffer_microseconds}};
  int next = 8;
  if (device != nullptr && *device != '\0') {
    command.arguments[next++] = argument_device;
    command.arguments[next++] = device;
  }
  command.arguments[next++] = argument_standard_input;
  command.arguments[next] = nullptr;
  return command;
}

// Runs in the child, which has given up root and its capabilities and reads
// the pipe as its standard input already.
void become_player(const util::program_file &program, void *command) {
  const char *const *arguments = static_cast<player_command *>(command)->arguments;
  program.execute(const_cast<char *const *>(arguments));
}

}  // namespace

pcm_output::~pcm_output() { end(); }

int pcm_output::start() {
  end();
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return 0;
  const util::unique_fd output(pipe_ends[0]);
  util::unique_fd input(pipe_ends[1]);
  fcntl(input.get(), F_SETPIPE_SZ, pipe_bytes);
  fcntl(input.get(), F_SETFL, O_NONBLOCK);
  player_command command = command_of(std::getenv(device_setting));
  player_ = util::child_process::start(output.get(), platform::pcm_player_program(), become_player,
                                       &command, grace);
  if (!player_.running()) return 0;
  input_ = std::move(input);
  return 1;
}

int pcm_output::end() {
  player_.end();
  input_.reset();
  return player_.exec_error();
}
