// The emulated drive's audio playback: where the head stands, and how a play
// request, pause, resume and stop move it.
//
// The head runs at 75 frames a second of emulated time from the moment play
// starts or resumes. A play ends when the head reaches the end address (the
// end is not played itself, as with a real drive); the drive then reports
// "completed" once and "no status" after that.
#include <algorithm>
#include <cerrno>

#include "emu/drive_state.h"

namespace sim {

int head_position(const DriveState &state, std::int64_t now) {
  if (state.audio != AudioState::playing) return state.position;
  const std::int64_t elapsed = std::max<std::int64_t>(now - state.resumed_at, 0);
  const std::int64_t frames = elapsed * frames_per_second / 1000000000;
  return static_cast<int>(std::min<std::int64_t>(state.position + frames, state.play_end));
}

int track_at(const LoadedDisc &disc, int frame) {
  int track = disc.tracks > 0 ? 1 : 0;
  for (int i = 1; i < disc.tracks && frame >= disc.track_start[i]; ++i) track = i + 1;
  return track;
}

void settle_audio(DriveState &state, std::int64_t now) {
  if (state.audio != AudioState::playing || head_position(state, now) < state.play_end) return;
  // The head rests on the last frame it played.
  state.position = std::max(state.play_start, state.play_end - 1);
  state.audio = AudioState::completed;
}

int start_play(DriveState &state, int start, int end, std::int64_t now) {
  const LoadedDisc &disc = state.disc;
  // A blank disc has no tracks; a data track holds no audio; the range must
  // run forwards and stay ahead of the lead-out.
  if (disc.tracks == 0 || disc.kind == Disc::Kind::data) return EIO;
  if (start > end || end > disc.track_start[disc.tracks]) return EIO;
  state.play_start = start;
  state.play_end = end;
  state.position = start;
  state.resumed_at = now;
  // An empty range is no error; it just plays nothing.
  state.audio = start == end ? AudioState::idle : AudioState::playing;
  return 0;
}

int pause_play(DriveState &state, std::int64_t now) {
  if (state.audio == AudioState::paused) return 0;
  if (state.audio != AudioState::playing) return EIO;  // no play in progress
  state.position = head_position(state, now);
  state.audio = AudioState::paused;
  return 0;
}

int resume_play(DriveState &state, std::int64_t now) {
  if (state.audio == AudioState::playing) return 0;
  if (state.audio != AudioState::paused) return EIO;
  state.resumed_at = now;
  state.audio = AudioState::playing;
  return 0;
}

void stop_play(DriveState &state, std::int64_t now) {
  state.position = head_position(state, now);
  state.audio = AudioState::idle;
}

}  // namespace sim
