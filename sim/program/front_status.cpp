#include "program/front_status.h"

#include <cstdio>

#include "emu/drive_state.h"

namespace sim {

namespace {

std::string disc_text(const drive_snapshot &drive) {
  switch (drive.kind) {
    case emulated_disc::disc_kind::audio:
      return "audio CD of " + std::to_string(drive.tracks) +
             (drive.tracks == 1 ? " track" : " tracks");
    case emulated_disc::disc_kind::data:
      return drive.mounted ? "data disc (mounted)" : "data disc";
    case emulated_disc::disc_kind::blank:
      return "unreadable disc";
    case emulated_disc::disc_kind::empty:
      break;
  }
  return "no disc";
}

std::string minutes_and_seconds(int frames) {
  const int seconds = frames / frames_per_second;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", seconds / 60 % 100, seconds % 60);
  return text;
}

}  // namespace

player_mode running_mode(const drive_snapshot &drive) {
  if (drive.mounted) return player_mode::mp3;
  // The audio mode starts with a play; a drive that refuses to play audio
  // leaves the player waiting with the disc in it.
  if (drive.disc_present && drive.kind == emulated_disc::disc_kind::audio &&
      drive.play_end_frame > 0) {
    return player_mode::audio;
  }
  return player_mode::none;
}

std::string drive_front_line(const drive_snapshot &drive) {
  std::string line = drive.tray_open ? "Drive: tray open" : "Drive: tray closed";
  if (!drive.disc_present) return line + ", no disc";
  line += ", " + disc_text(drive);
  if (drive.kind != emulated_disc::disc_kind::audio) return line;
  const char *state = drive.playing ? "playing" : drive.paused ? "paused" : "stopped";
  return line + ", track " + std::to_string(drive.track) + " " +
         minutes_and_seconds(drive.track_frame) + " " + state;
}

std::string decoder_line(const decoder_feed &feed) {
  if (feed.title.empty()) return "Decoder gets: no title";
  std::string line = "Decoder gets: " + feed.title + ", frame " + std::to_string(feed.frames_sent);
  if (feed.frames_in_title > 0) line += " of " + std::to_string(feed.frames_in_title);
  return line;
}

const char *key_help(player_mode mode) {
  switch (mode) {
    case player_mode::audio:
      return "Q/W/E next track  A/S/D previous track  N play  B pause  M stop  X eject"
             "  Ctrl-C quits";
    case player_mode::mp3:
      return "Q/A artist W/S album E/D title N play B pause M stop R/F fwd/rew X leave"
             "  Ctrl-C quits";
    case player_mode::none:
      break;
  }
  return "No mode runs: keys wait for the next disc's mode  Ctrl-C quits";
}

}  // namespace sim
