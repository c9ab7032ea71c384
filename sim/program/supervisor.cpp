// The player never ends by itself, forks an MP3-mode child, which forks the
// decoder. So the player runs in a child process of its own process group,
// and this process (the supervisor) stays outside it: it relays the keys
// from standard input into the player's key channel, draws the display,
// and, when the time is up or the user quits, kills the whole group and
// reaps every process that is left, so that nothing outlives the simulator.
//
// Everything the supervisor sets up (the key pipe, the display's eventfd,
// the blocked signals and their signalfd, the terminal, the player's group)
// is held by an owner, so that every way out, early or late, undoes it.
#include "program/supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/key_channel.h"
#include "ctl/ctl.h"
#include "ctl/rom_setting.h"
#include "emu/drive.h"
#include "program/decoder_feed.h"
#include "program/front_status.h"
#include "program/panel.h"
#include "program/process_sweep.h"
#include "program/scratch_folder.h"
#include "program/sound_output.h"
#include "util/clock.h"
#include "util/scope_exit.h"
#include "util/signal_mask.h"
#include "util/unique_fd.h"

namespace sim {

namespace {

constexpr unsigned char ctrl_c = 0x03;
// The drive's front and the decoder's feed move with time, not only when
// the display changes: the status lines are looked at this often.
constexpr int status_refresh_milliseconds = 250;
constexpr std::int64_t nanoseconds_per_millisecond = 1'000'000;

struct terminal_guard {
  bool saved = false;
  termios original{};
  terminal_guard() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &original) != 0) return;
    saved = true;
    termios raw = original;
    make_raw_key_input(raw);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  ~terminal_guard() {
    if (saved) tcsetattr(STDIN_FILENO, TCSANOW, &original);
  }
};

std::int64_t monotonic_milliseconds() { return util::monotonic_ns() / nanoseconds_per_millisecond; }

// The key relay: the player reads its keys from one end, the supervisor
// writes what standard input brings into the other.
struct key_pipe {
  util::unique_fd player_end;
  util::unique_fd relay_end;
};

bool make_key_pipe(key_pipe &keys) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  keys.player_end.reset(ends[0]);
  keys.relay_end.reset(ends[1]);
  return true;
}

// The emulated machine the player will find: its mount points in the
// scratch folder, the display's changes announced on `display_events`.
void set_up_machine(sim_options &options, const scratch_folder &scratch, int display_events) {
  options.machine.cdrom_mount_point = scratch.path() + "/cdrom";
  options.machine.floppy_mount_point = scratch.path() + "/floppy";
  options.machine.display_event_fd = display_events;
  // The player, a child, reads its setting from the environment it inherits.
  if (options.lcd_rom != nullptr) setenv(rom_setting_name, options.lcd_rom, 1);
  machine_config() = options.machine;
  reset_machine();
}

// The player's end of the key relay: it holds only the read end, so that
// it sees the end of the keys when the relay closes. The player never
// returns, so the owners it inherited never close: what it must not keep
// is closed here, by hand.
[[noreturn]] void run_player(key_pipe &keys, const sigset_t &original_mask) {
  keys.relay_end.reset();
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  dup2(keys.player_end.get(), STDIN_FILENO);
  keys.player_end.reset();
  sigprocmask(SIG_SETMASK, &original_mask, nullptr);
  control_main();
}

// Forks the player into a process group of its own; the supervisor keeps
// only the relay's end of the key pipe. -1 when no process could be made.
pid_t start_player(key_pipe &keys, const util::blocked_signals &handled) {
  std::fflush(stdout);
  const pid_t player = fork();
  if (player == 0) run_player(keys, handled.previous());
  keys.player_end.reset();
  if (player > 0) setpgid(player, player);
  return player;
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

void show_status(terminal_panel &panel, decoder_feed_watch &feed_watch, pid_t player) {
  const drive_snapshot drive = drive_view();
  const player_mode mode = running_mode(drive);
  std::string decoder;
  if (mode == player_mode::mp3) {
    const auto &discs = machine_config().discs;
    const bool listed = drive.disc_index >= 0 && drive.disc_index < static_cast<int>(discs.size());
    decoder = decoder_line(feed_watch.look(player, listed ? discs[drive.disc_index].folder : ""));
  }
  panel.show_status(drive_front_line(drive), decoder, key_help(mode));
}

// What the supervisor watches while the player runs, and what it has seen.
// It owns the relay's end of the key pipe, which closes at the end of the
// input or with the supervision.
struct supervision {
  terminal_panel &panel;
  pid_t player;
  int signals;
  int display_events;
  util::unique_fd key_output;
  bool from_terminal;
  decoder_feed_watch feed_watch{};
  int status = 0;
  bool quit = false;
};

// -1 without a time limit.
std::int64_t deadline_of(const sim_options &options) {
  if (options.run_for_seconds <= 0) return -1;
  return monotonic_milliseconds() + static_cast<std::int64_t>(options.run_for_seconds * 1000);
}

// How long to wait for the next event: until the status is due or the time
// is up, whichever comes first. False when the time is up already.
bool next_timeout(bool panel_active, std::int64_t deadline, int &timeout) {
  timeout = panel_active ? status_refresh_milliseconds : -1;
  if (deadline < 0) return true;
  const std::int64_t left = deadline - monotonic_milliseconds();
  if (left <= 0) return false;
  if (timeout < 0 || left < timeout) timeout = static_cast<int>(left);
  return true;
}

// A signal to the simulator ends it; so does the player's own end, which
// SIGCHLD announces among the ends of its orphans.
void take_signal(supervision &run) {
  signalfd_siginfo received;
  if (read(run.signals, &received, sizeof received) != sizeof received) return;
  if (received.ssi_signo == SIGCHLD) {
    int player_status_code = 0;
    if (reap_exited_children(run.player, player_status_code)) {
      std::fprintf(stderr, "discbox-sim: the player ended (status %d)\n", player_status_code);
      run.status = 1;
      run.quit = true;
    }
  } else {
    run.status = 128 + static_cast<int>(received.ssi_signo);
    run.quit = true;
  }
}

void take_display_event(supervision &run) {
  std::uint64_t count;
  if (read(run.display_events, &count, sizeof count) == sizeof count)
    run.panel.draw(display_view());
}

void take_keys(supervision &run) {
  if (!relay_keys(run.key_output.get(), run.from_terminal, run.quit)) run.key_output.reset();
}

// Returns the simulator's exit status.
int supervise(supervision &run, std::int64_t deadline) {
  while (!run.quit) {
    if (run.panel.active()) show_status(run.panel, run.feed_watch, run.player);
    pollfd watched[3] = {{run.signals, POLLIN, 0},
                         {run.display_events, POLLIN, 0},
                         {run.key_output ? STDIN_FILENO : -1, POLLIN, 0}};
    int timeout = -1;
    if (!next_timeout(run.panel.active(), deadline, timeout)) break;
    if (poll(watched, 3, timeout) < 0 && errno != EINTR) break;
    if (watched[0].revents & POLLIN) take_signal(run);
    if (watched[1].revents & POLLIN) take_display_event(run);
    if (watched[2].revents & (POLLIN | POLLHUP | POLLERR)) take_keys(run);
  }
  return run.status;
}

}  // namespace

int run_simulation(sim_options &options) {
  scratch_folder scratch;
  if (!scratch.ok()) {
    std::perror("discbox-sim: scratch folder");
    return 1;
  }
  const bool sound = options.sound && choose_sound_output(options);
  terminal_panel panel;
  const util::unique_fd display_events(panel.active() ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)
                                                      : -1);
  set_up_machine(options, scratch, display_events.get());

  key_pipe keys;
  if (!make_key_pipe(keys)) {
    std::perror("discbox-sim: key pipe");
    return 1;
  }
  const util::blocked_signals handled{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD};
  const util::unique_fd signals(signalfd(-1, &handled.set(), SFD_CLOEXEC));
  // Orphans of the player's processes come to us, so that we can reap them.
  prctl(PR_SET_CHILD_SUBREAPER, 1);

  const pid_t player = start_player(keys, handled);
  if (player < 0) {
    std::perror("discbox-sim: fork");
    return 1;
  }
  if (sound && start_analog_output(player, handled.previous()) < 0) {
    std::perror("discbox-sim: the drive's analog output");
  }
  const terminal_guard terminal;
  // Made after the terminal guard, so that the players are gone before the
  // terminal is given back; the supervision, made after it, closes the key
  // relay before they are killed.
  const util::scope_exit end_players([player] { end_process_group(player); });
  supervision run{
      panel,         player, signals.get(), display_events.get(), std::move(keys.relay_end),
      terminal.saved};
  return supervise(run, deadline_of(options));
}

}  // namespace sim
