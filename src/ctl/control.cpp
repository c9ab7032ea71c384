// Start-up and the mode-selection loop: wait for a disc, tell an audio CD
// (track 1 plays) from an MP3 data disc (it mounts as ISO 9660), run the
// matching mode, eject, and wait again, forever.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "audio/audio_mode.h"
#include "audio/cd.h"
#include "console/key_channel.h"
#include "console/texts.h"
#include "ctl/ctl.h"
#include "ctl/rom_setting.h"
#include "lcd/lcd.h"
#include "lcd/port_access.h"
#include "mp3/mp3_mode.h"
#include "platform/disc_mount.h"
#include "platform/platform.h"
#include "util/child_process.h"

namespace {

constexpr char text_started[] = "\n\ncontrol started...\n";
constexpr char text_check_cd[] = "check cd...\n";
constexpr char text_insert_disc[] = "Bitte CD einlegen...";
constexpr char text_audio_mode[] = "audio modus..\n";
constexpr char text_mp3_mode[] = "mp3 modus..\n";
constexpr char text_unmount[] = "unmount %i\n";
constexpr char text_eject[] = "and eject %i\n";

// The old settings are never restored.
void make_terminal_raw() {
  termios settings;
  if (tcgetattr(STDIN_FILENO, &settings) != 0) return;
  make_raw_key_input(settings);
  tcsetattr(STDIN_FILENO, TCSANOW, &settings);
}

void start_up() {
  const bool raw_port_access = platform::request_port_access() == 0;
  // One console line per event, as it happens, also when standard output is
  // a pipe or a log file.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  std::fputs(text_started, stdout);
  choose_rom_from_environment();
  if (pipe(pipe_keyboard) != 0) {
    std::fputs(text_unable_to_create_pipe, stdout);
    std::exit(1);
  }
  make_terminal_raw();
  // The decoder, which the MP3 mode executes, has no use for the keys.
  dup3(STDIN_FILENO, pipe_keyboard[1], O_CLOEXEC);
  port_access::choose(raw_port_access);
  lcd_init(lcd_port);
}

void prompt_for_disc() {
  std::fputs(text_check_cd, stdout);
  lcd_clear(lcd_port);
  lcd_set_string(lcd_port, text_insert_disc, 1);
}

void run_audio_mode() {
  std::fputs(text_audio_mode, stdout);
  main_audio();
  std::printf(text_eject, audio.eject());
}

// The MP3 mode runs in a child process, so that everything it allocates,
// its threads and its decoder go away with it; the disc stays mounted
// until the child has ended.
void run_mp3_mode() {
  std::fputs(text_mp3_mode, stdout);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) main_mpg();
  util::child_process mp3_mode(child);
  mp3_mode.wait();
  sleep(1);
  std::printf(text_unmount, platform::unmount_filesystem(platform::cdrom_mount_point()));
  std::printf(text_eject, audio.eject());
}

}  // namespace

void control_main() {
  start_up();
  for (;;) {
    prompt_for_disc();
    while (audio.read_status() == 0) {
      std::fputs(text_check_cd, stdout);
      sleep(1);
    }
    if (audio.test_play(1)) {
      run_audio_mode();
    } else if (platform::mount_filesystem(platform::drive_device(), platform::cdrom_mount_point(),
                                          "iso9660", disc_mount_flags) == 0) {
      run_mp3_mode();
    }
    sleep(1);
  }
}
