// The player never ends by itself, forks an MP3-mode child, which forks the
// decoder. So the player runs in a child process of its own process group,
// and this process (the supervisor) stays outside it: it relays the keys
// from standard input into the player's key channel, draws the display,
// and, when the time is up or the user quits, kills the whole group and
// reaps every process that is left, so that nothing outlives the simulator.
#include "program/supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ctl/ctl.h"
#include "ctl/key_channel.h"
#include "emu/drive.h"
#include "program/decoder_feed.h"
#include "program/front_status.h"
#include "program/panel.h"
#include "program/process_sweep.h"
#include "program/scratch_folder.h"

namespace sim {

namespace {

constexpr unsigned char ctrl_c = 0x03;
// The drive's front and the decoder's feed move with time, not only when
// the display changes: the status lines are looked at this often.
constexpr int status_refresh_milliseconds = 250;

struct TerminalGuard {
  bool saved = false;
  termios original{};
  TerminalGuard() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &original) != 0) return;
    saved = true;
    termios raw = original;
    make_raw_key_input(raw);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  ~TerminalGuard() {
    if (saved) tcsetattr(STDIN_FILENO, TCSANOW, &original);
  }
};

std::int64_t monotonic_milliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// The player's end of the key relay: it holds only the read end, so that
// it sees the end of the keys when the relay closes.
[[noreturn]] void run_player(const int keys[2], const sigset_t &original_mask) {
  const int key_input = keys[0];
  close(keys[1]);
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  dup2(key_input, STDIN_FILENO);
  close(key_input);
  sigprocmask(SIG_SETMASK, &original_mask, nullptr);
  control_main();
}

// Relays what standard input holds into the player's key channel. Returns
// false when the relay is over (end of input); sets `quit` on Ctrl-C typed
// at a terminal.
bool relay_keys(int key_output, bool from_terminal, bool &quit) {
  unsigned char bytes[256];
  ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
  if (count < 0 && errno == EINTR) return true;
  if (count <= 0) return false;
  for (ssize_t i = 0; i < count; ++i) {
    if (from_terminal && bytes[i] == ctrl_c) {
      quit = true;
      return true;
    }
  }
  const unsigned char *data = bytes;
  while (count > 0) {
    ssize_t written = write(key_output, data, static_cast<size_t>(count));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    count -= written;
  }
  return true;
}

void show_status(Panel &panel, DecoderFeedWatch &feed_watch, pid_t player) {
  const DriveView drive = drive_view();
  const RunningMode mode = running_mode(drive);
  std::string decoder;
  if (mode == RunningMode::mp3) {
    const auto &discs = machine_config().discs;
    const bool listed = drive.disc_index >= 0 && drive.disc_index < static_cast<int>(discs.size());
    decoder = decoder_line(feed_watch.look(player, listed ? discs[drive.disc_index].folder : ""));
  }
  panel.show_status(drive_front_line(drive), decoder, key_help(mode));
}

}  // namespace

int run_simulation(SimOptions &options) {
  ScratchFolder scratch;
  if (!scratch.ok()) {
    std::perror("discbox-sim: scratch folder");
    return 1;
  }
  options.machine.cdrom_mount_point = scratch.path() + "/cdrom";
  options.machine.floppy_mount_point = scratch.path() + "/floppy";

  Panel panel;
  int display_events = panel.active() ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
  options.machine.display_event_fd = display_events;
  machine_config() = options.machine;
  reset_machine();

  int keys[2];
  if (pipe2(keys, O_CLOEXEC) != 0) {
    std::perror("discbox-sim: key pipe");
    return 1;
  }
  sigset_t handled, original_mask;
  sigemptyset(&handled);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) {
    sigaddset(&handled, signal_number);
  }
  sigprocmask(SIG_BLOCK, &handled, &original_mask);
  int signals = signalfd(-1, &handled, SFD_CLOEXEC);
  // Orphans of the player's processes come to us, so that we can reap them.
  prctl(PR_SET_CHILD_SUBREAPER, 1);

  std::fflush(stdout);
  pid_t player = fork();
  if (player == 0) run_player(keys, original_mask);
  close(keys[0]);
  if (player < 0) {
    std::perror("discbox-sim: fork");
    return 1;
  }
  setpgid(player, player);

  int status = 0;
  {
    TerminalGuard terminal;
    bool from_terminal = terminal.saved;
    int key_output = keys[1];
    std::int64_t deadline =
        options.run_for_seconds > 0
            ? monotonic_milliseconds() + static_cast<std::int64_t>(options.run_for_seconds * 1000)
            : -1;
    bool quit = false;
    DecoderFeedWatch feed_watch;
    while (!quit) {
      if (panel.active()) show_status(panel, feed_watch, player);
      pollfd watched[3] = {{signals, POLLIN, 0},
                           {display_events, POLLIN, 0},
                           {key_output >= 0 ? STDIN_FILENO : -1, POLLIN, 0}};
      int timeout = panel.active() ? status_refresh_milliseconds : -1;
      if (deadline >= 0) {
        std::int64_t left = deadline - monotonic_milliseconds();
        if (left <= 0) break;
        if (timeout < 0 || left < timeout) timeout = static_cast<int>(left);
      }
      if (poll(watched, 3, timeout) < 0 && errno != EINTR) break;
      if (watched[0].revents & POLLIN) {
        signalfd_siginfo received;
        if (read(signals, &received, sizeof received) == sizeof received) {
          if (received.ssi_signo == SIGCHLD) {
            int player_status_code = 0;
            if (reap_exited_children(player, player_status_code)) {
              std::fprintf(stderr, "discbox-sim: the player ended (status %d)\n",
                           player_status_code);
              status = 1;
              quit = true;
            }
          } else {
            status = 128 + static_cast<int>(received.ssi_signo);
            quit = true;
          }
        }
      }
      if (watched[1].revents & POLLIN) {
        std::uint64_t count;
        if (read(display_events, &count, sizeof count) == sizeof count) {
          panel.draw(display_view());
        }
      }
      if (watched[2].revents & (POLLIN | POLLHUP | POLLERR)) {
        if (!relay_keys(key_output, from_terminal, quit)) {
          close(key_output);
          key_output = -1;
        }
      }
    }
    if (key_output >= 0) close(key_output);
    end_process_group(player);
  }
  if (display_events >= 0) close(display_events);
  close(signals);
  sigprocmask(SIG_SETMASK, &original_mask, nullptr);
  return status;
}

}  // namespace sim
