// What the frame pipeline shares with the reader's work on one title
// (frame_reader.h), which knows nothing else of the pipeline: the ring's
// measures and the values of the playing status.
#pragma once

// The frame ring: 20 slots, each large enough for any frame the header rule
// accepts.
inline constexpr int ring_slots = 20;
inline constexpr int slot_bytes = 2017;

// Values of player_status (frame_pipeline).
inline constexpr int status_stopped = 0;
inline constexpr int status_playing = 1;
inline constexpr int status_paused = 2;
inline constexpr int status_forward = 3;
inline constexpr int status_rewind = 4;
