// The audio-CD mode's start (display, key stream, the floppy's mount) and
// its key loop, each key one drive request.
#include "audio/audio_mode.h"

#include <cctype>
#include <cstdio>

#include "audio/cd.h"
#include "console/key_channel.h"
#include "console/texts.h"
#include "lcd/lcd.h"
#include "platform/disc_mount.h"
#include "platform/platform.h"
#include "util/unique_handle.h"

namespace {

constexpr char text_mode_name[] = "Standard Modus...";
constexpr char text_init[] = "init%i\n";
constexpr char text_previous[] = " previous\n ";
constexpr char text_next[] = " next\n ";
constexpr char text_rewind[] = " rewind (not yet)\n ";
constexpr char text_forward[] = " forward (not yet)\n ";
constexpr char text_leave[] = " eject cd-a\n ";

// What the keys have asked of the drive; B and N act on it. The mode's
// alone: it runs in the control loop's one thread.
enum class play_state { stopped, playing, paused };
play_state player_status = play_state::stopped;

// A floppy is mounted read-only (disc_mount_flags) and given up again as soon as playback has
// started; ext2 first, then FAT. Returns 0 when one of the mounts worked.
int mount_floppy() {
  int result = platform::mount_filesystem(platform::floppy_device(), platform::floppy_mount_point(),
                                          "ext2", disc_mount_flags);
  if (result != 0) {
    result = platform::mount_filesystem(platform::floppy_device(), platform::floppy_mount_point(),
                                        "vfat", disc_mount_flags);
  }
  return result;
}

// The track now playing. Nothing else polls the drive while the mode waits
// for keys, so ask before stepping from it; but only ask: a play that has
// completed must not start a track of its own ahead of the key's.
int track_now_playing() {
  audio.read_position();
  return audio.current_t;
}

void step_back(int last_track) {
  int current = track_now_playing();
  if (current > 1) {
    audio.tracks_clear();
    audio.play(current - 1, last_track);
  }
  std::fputs(text_previous, stdout);
}

void step_forward(int last_track) {
  int current = track_now_playing();
  if (current < last_track) {
    audio.tracks_clear();
    audio.play(current + 1, last_track);
  }
  std::fputs(text_next, stdout);
}

void pause_or_resume() {
  if (player_status == play_state::playing) {
    player_status = play_state::paused;
    audio.pause();
  } else if (player_status == play_state::paused) {
    player_status = play_state::playing;
    audio.resume();
  }
}

void play_or_resume(int last_track) {
  if (player_status == play_state::paused) {
    player_status = play_state::playing;
    audio.resume();
  } else {
    player_status = play_state::playing;
    audio.play(1, last_track);
  }
}

}  // namespace

int main_audio() {
  lcd_init(lcd_port);
  lcd_set_string(lcd_port, text_mode_name, 1);
  util::unique_file tty_f(open_key_stream());
  int lastTrack = audio.tracks();
  int fd0_mounted = mount_floppy();
  std::printf(text_init, 1);
  player_status = play_state::playing;
  audio.play(1, lastTrack);
  if (fd0_mounted == 0) platform::unmount_filesystem(platform::floppy_mount_point());

  for (;;) {
    int key = read_key(tty_f.get());
    if (key <= 0 || key == '\n') continue;
    switch (std::toupper(key)) {
      case 'A':
      case 'D':
      case 'S':
        step_back(lastTrack);
        break;
      case 'E':
      case 'Q':
      case 'W':
        step_forward(lastTrack);
        break;
      case 'B':
        pause_or_resume();
        break;
      case 'N':
        play_or_resume(lastTrack);
        break;
      case 'M':
        player_status = play_state::stopped;
        audio.stop();
        break;
      case 'F':
        std::fputs(text_rewind, stdout);
        break;
      case 'R':
        std::fputs(text_forward, stdout);
        break;
      case 'X':
        std::fputs(text_leave, stdout);
        return 0;
      default:
        std::fputs(text_unknown_key, stdout);
        break;
    }
  }
}
