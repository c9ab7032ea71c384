// The emulated drive's audio sectors, as CDROMREADAUDIO hands them out.
//
// Every sector has content a test or a person can recognise: its first ten
// bytes are "T<track, 2 digits>S<sector within the track, 6 digits>" in
// ASCII, the rest is the track's own piece of the demo music (raw CD audio:
// 16-bit little-endian stereo at 44 100 Hz, 588 sample frames a sector), so
// a kept stream tells which sectors were played and the ear tells the tracks
// apart.
#include <linux/cdrom.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "demo_music.h"
#include "emu/drive_state.h"

namespace sim {

namespace {

constexpr int sample_frames_per_sector = CD_FRAMESIZE_RAW / 4;
constexpr double amplitude = 12000;
// The audio CD's tracks play pieces of their own, apart from the demo MP3
// disc's titles, which mkdisc numbers from 1.
constexpr unsigned int first_track_piece = 101;

}  // namespace

void fill_audio_sector(const loaded_disc &disc, int frame, std::uint8_t *sector) {
  const int track = track_at(disc, frame);
  const int within = frame - disc.track_start[track - 1];
  const unsigned int piece = first_track_piece + static_cast<unsigned int>(track - 1);
  for (int k = 0; k < sample_frames_per_sector; ++k) {
    const std::int64_t n = static_cast<std::int64_t>(within) * sample_frames_per_sector + k;
    const auto value =
        static_cast<std::int16_t>(std::lround(amplitude * demo_music::sample(piece, n)));
    const auto bits = static_cast<std::uint16_t>(value);
    for (int channel = 0; channel < 2; ++channel) {
      sector[4 * k + 2 * channel] = static_cast<std::uint8_t>(bits & 0xFF);
      sector[4 * k + 2 * channel + 1] = static_cast<std::uint8_t>(bits >> 8);
    }
  }
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "T%02dS%06d", track % 100, within % 1000000);
  std::memcpy(sector, stamp, 10);
}

namespace {

bool unreadable(const loaded_disc &disc, int frame) {
  for (int i = 0; i < disc.unreadable_count; ++i) {
    if (disc.unreadable[i] == frame) return true;
  }
  return false;
}

}  // namespace

int request_first_frame(const cdrom_read_audio &request) {
  if (request.addr_format == CDROM_LBA) return request.addr.lba + first_track_frame;
  const cdrom_msf0 &msf = request.addr.msf;
  return (msf.minute * 60 + msf.second) * frames_per_second + msf.frame;
}

const scratch_range *scratch_under(const loaded_disc &disc, int first, int count) {
  for (int i = 0; i < disc.scratch_count; ++i) {
    const scratch_range &s = disc.scratches[i];
    if (first < s.end && first + count > s.first) return &s;
  }
  return nullptr;
}

int read_audio_sectors(const loaded_disc &disc, cdrom_read_audio &request, std::string &detail) {
  if (request.addr_format != CDROM_LBA && request.addr_format != CDROM_MSF) return EINVAL;
  const int first = request_first_frame(request);
  detail = msf_text(first) + " x" + std::to_string(request.nframes);
  // The kernel takes at most a second's worth in one request.
  if (request.nframes < 1 || request.nframes > CD_FRAMES) return EINVAL;
  if (request.buf == nullptr) return EFAULT;
  if (disc.tracks == 0 || first < first_track_frame ||
      first + request.nframes > disc.track_start[disc.tracks]) {
    return EIO;
  }
  // A data track holds no audio sectors: the drive reports an illegal mode.
  if (disc.kind != emulated_disc::disc_kind::audio) return EIO;
  for (int i = 0; i < request.nframes; ++i) {
    if (unreadable(disc, first + i)) return EIO;
  }
  if (scratch_under(disc, first, request.nframes) != nullptr) {
    detail += " scratch";
    return EIO;
  }
  for (int i = 0; i < request.nframes; ++i) {
    fill_audio_sector(disc, first + i, request.buf + i * CD_FRAMESIZE_RAW);
  }
  return 0;
}

}  // namespace sim
