#include "program/front_status.h"

#include <cstdio>

#include "emu/drive_state.h"

namespace sim {

namespace {

std::string disc_text(const DriveView &drive) {
  switch (drive.kind) {
    case Disc::Kind::audio:
      return "audio CD of " + std::to_string(drive.tracks) +
             (drive.tracks == 1 ? " track" : " tracks");
    case Disc::Kind::data:
      return drive.mounted ? "data disc (mounted)" : "data disc";
    case Disc::Kind::blank:
      return "unreadable disc";
    case Disc::Kind::empty:
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

RunningMode running_mode(const DriveView &drive) {
  if (drive.mounted) return RunningMode::mp3;
  // The audio mode starts with a play; a drive that refuses to play audio
  // leaves the player waiting with the disc in it.
  if (drive.disc_present && drive.kind == Disc::Kind::audio && drive.play_end_frame > 0) {
    return RunningMode::audio;
  }
  return RunningMode::none;
}

std::string drive_front_line(const DriveView &drive) {
  std::string line = drive.tray_open ? "Drive: tray open" : "Drive: tray closed";
  if (!drive.disc_present) return line + ", no disc";
  line += ", " + disc_text(drive);
  if (drive.kind != Disc::Kind::audio) return line;
  const char *state = drive.playing ? "playing" : drive.paused ? "paused" : "stopped";
  return line + ", track " + std::to_string(drive.track) + " " +
         minutes_and_seconds(drive.track_frame) + " " + state;
}

std::string decoder_line(const DecoderFeed &feed) {
  if (feed.title.empty()) return "Decoder gets: no title";
  std::string line = "Decoder gets: " + feed.title + ", frame " + std::to_string(feed.frames_sent);
  if (feed.frames_in_title > 0) line += " of " + std::to_string(feed.frames_in_title);
  return line;
}

const char *key_help(RunningMode mode) {
  switch (mode) {
    case RunningMode::audio:
      return "Q/W/E next track  A/S/D previous track  N play  B pause  M stop  X eject"
             "  Ctrl-C quits";
    case RunningMode::mp3:
      return "Q/A artist W/S album E/D title N play B pause M stop R/F fwd/rew X leave"
             "  Ctrl-C quits";
    case RunningMode::none:
      break;
  }
  return "No mode runs: keys wait for the next disc's mode  Ctrl-C quits";
}

}  // namespace sim
