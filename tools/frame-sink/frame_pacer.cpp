// Pacing the frame stream: a frame's length from its header, and the wait
// until a player would have played the frames taken so far.
#include "frame_pacer.h"

namespace {

constexpr double samples_per_frame = 1152;
constexpr double sample_rate = 44100;
constexpr unsigned int kilobits_per_second[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                                  112, 128, 160, 192, 224, 256, 320, 0};

}  // namespace

std::size_t frame_length(const std::uint8_t header[3]) {
  if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0) return 0;
  const unsigned int kbps = kilobits_per_second[header[2] >> 4];
  if (kbps == 0) return 0;
  return kbps * 144000u / 44100u + ((header[2] & 0x02) ? 1 : 0);
}

frame_pacer::frame_pacer(double speed)
    : frame_nanoseconds_(speed > 0 ? samples_per_frame / sample_rate * 1e9 / speed : 0) {}

void frame_pacer::take(const std::uint8_t *bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (frame_left_ > 0) {
      if (--frame_left_ == 0) frame_complete();
      continue;
    }
    header_[header_bytes_++] = bytes[i];
    if (header_bytes_ < 3) continue;
    const std::size_t length = frame_length(header_);
    if (length == 0) {
      // No frame starts here: look for one a byte further on.
      header_[0] = header_[1];
      header_[1] = header_[2];
      header_bytes_ = 2;
      continue;
    }
    header_bytes_ = 0;
    frame_left_ = length - 3;
    if (frame_left_ == 0) frame_complete();
  }
}

void frame_pacer::frame_complete() {
  ++frames_;
  if (frame_nanoseconds_ == 0) return;
  clock_.play(static_cast<std::int64_t>(frame_nanoseconds_), sink::now_nanoseconds());
}
