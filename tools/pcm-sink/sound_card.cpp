// The sound card model (sound_card.h).
#include "sound_card.h"

#include <algorithm>
#include <cmath>

namespace sink {

sound_card::sound_card(std::uint64_t buffer_bytes, double bytes_per_second)
    : buffer_bytes_(std::max<std::uint64_t>(buffer_bytes, 1)),
      bytes_per_second_(bytes_per_second) {}

std::int64_t sound_card::nanoseconds_for(std::uint64_t bytes) const {
  return std::llround(static_cast<double>(bytes) / bytes_per_second_ * 1e9);
}

std::uint64_t sound_card::played(std::int64_t now) const {
  if (!running_) return played_at_start_;
  const double seconds = static_cast<double>(std::max<std::int64_t>(now - started_, 0)) / 1e9;
  const auto bytes = static_cast<std::uint64_t>(seconds * bytes_per_second_);
  return std::min(received_, played_at_start_ + bytes);
}

bool sound_card::dry(std::int64_t now) const {
  return dry_since_.has_value() || (running_ && played(now) >= received_);
}

void sound_card::settle(std::int64_t now) {
  if (!running_ || played(now) < received_) return;
  dry_since_ = started_ + nanoseconds_for(received_ - played_at_start_);
  played_at_start_ = received_;
  running_ = false;
}

std::int64_t sound_card::room_at(std::int64_t now, std::size_t bytes) const {
  const std::uint64_t queued = received_ - played(now);
  if (!running_ || queued + bytes <= buffer_bytes_) return now;
  // Enough must have played that the bytes fit; a piece larger than the
  // buffer waits until the buffer is empty.
  const std::uint64_t must_play = std::min<std::uint64_t>(queued + bytes - buffer_bytes_, queued);
  const std::uint64_t target = played(now) + must_play;
  return started_ + nanoseconds_for(target - played_at_start_);
}

std::optional<underrun> sound_card::arrive(std::int64_t now, std::size_t count) {
  settle(now);
  received_ += count;
  if (running_ || received_ - played_at_start_ < buffer_bytes_) return std::nullopt;
  running_ = true;
  started_ = now;
  if (!dry_since_) return std::nullopt;
  const underrun silence{*dry_since_, now - *dry_since_, played_at_start_};
  dry_since_.reset();
  return silence;
}

std::int64_t sound_card::drained_at(std::int64_t now) const {
  return now + nanoseconds_for(received_ - played(now));
}

}  // namespace sink
