// The sound card behind the PCM player stand-in, as ALSA runs it for a
// player like aplay: audio waits in a buffer of fixed size; the card starts
// once the buffer is full (or the input ends) and then plays at its rate;
// when the buffer runs dry it stops, which is an underrun: the listener
// hears silence until the buffer has filled up again and the card restarts.
//
// The model is worked out from arrival times alone, so a test can feed it
// times instead of waiting for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sink {

struct underrun {
  std::int64_t start = 0;    // monotonic ns: the buffer ran dry
  std::int64_t length = 0;   // ns of silence until the card played again
  std::uint64_t offset = 0;  // bytes of the stream played before it
};

class sound_card {
 public:
  // `buffer_bytes` of buffer (at least one byte), played at
  // `bytes_per_second`.
  sound_card(std::uint64_t buffer_bytes, double bytes_per_second);

  // When `bytes` more fit into the buffer: `now`, or later while the card
  // plays what fills it. A card that has not started takes its buffer's
  // worth at once.
  std::int64_t room_at(std::int64_t now, std::size_t bytes) const;
  // `count` bytes arrived at `now`. Returns the underrun that this arrival
  // ended by restarting the card, if there was one.
  std::optional<underrun> arrive(std::int64_t now, std::size_t count);
  // Bytes played by `now`.
  std::uint64_t played(std::int64_t now) const;
  // The input ended at `now`: when the card will have played the rest.
  std::int64_t drained_at(std::int64_t now) const;
  // Whether the card has run dry and waits for audio at `now`.
  bool dry(std::int64_t now) const;

 private:
  std::int64_t nanoseconds_for(std::uint64_t bytes) const;
  // Stops the card at the moment it ran dry, if that happened before `now`.
  void settle(std::int64_t now);

  std::uint64_t buffer_bytes_;
  double bytes_per_second_;
  std::uint64_t received_ = 0;
  bool running_ = false;
  std::int64_t started_ = 0;               // while running: when the card last started
  std::uint64_t played_at_start_ = 0;      // bytes played when it last started
  std::optional<std::int64_t> dry_since_;  // an underrun in progress
};

}  // namespace sink
