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

int head_position(const drive_state &state, std::int64_t now) {
  if (state.audio != audio_state::playing) return state.position;
  const std::int64_t elapsed = std::max<std::int64_t>(now - state.resumed_at, 0);
  const std::int64_t frames = elapsed * frames_per_second / 1000000000;
  return static_cast<int>(std::min<std::int64_t>(state.position + frames, state.play_end));
}

int track_at(const loaded_disc &disc, int frame) {
  int track = disc.tracks > 0 ? 1 : 0;
  for (int i = 1; i < disc.tracks && frame >= disc.track_start[i]; ++i) track = i + 1;
  return track;
}

void settle_audio(drive_state &state, std::int64_t now) {
  if (state.audio != audio_state::playing || head_position(state, now) < state.play_end) return;
  // The head rests on the last frame it played.
  state.position = std::max(state.play_start, state.play_end - 1);
  state.audio = audio_state::completed;
}

int start_play(drive_state &state, int start, int end, std::int64_t now) {
  const loaded_disc &disc = state.disc;
  // A blank disc has no tracks; a data track holds no audio; the range must
  // run forwards and stay ahead of the lead-out.
  if (disc.tracks == 0 || disc.kind == emulated_disc::disc_kind::data) return EIO;
  if (start > end || end > disc.track_start[disc.tracks]) return EIO;
  state.play_start = start;
  state.play_end = end;
  state.position = start;
  state.resumed_at = now;
  // An empty range is no error; it just plays nothing.
  state.audio = start == end ? audio_state::idle : audio_state::playing;
  return 0;
}

int pause_play(drive_state &state, std::int64_t now) {
  if (state.audio == audio_state::paused) return 0;
  if (state.audio != audio_state::playing) return EIO;  // no play in progress
  state.position = head_position(state, now);
  state.audio = audio_state::paused;
  return 0;
}

int resume_play(drive_state &state, std::int64_t now) {
  if (state.audio == audio_state::playing) return 0;
  if (state.audio != audio_state::paused) return EIO;
  state.resumed_at = now;
  state.audio = audio_state::playing;
  return 0;
}

void stop_play(drive_state &state, std::int64_t now) {
  state.position = head_position(state, now);
  state.audio = audio_state::idle;
}

}  // namespace sim
