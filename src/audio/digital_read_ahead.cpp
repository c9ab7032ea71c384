// The reader of digital playback: keeps the read-ahead buffer full from the
// drive. It reads in small requests (four sectors, 13 ms at 4x), so that a
// new range waits little for the read in flight; the drive lock is not held
// across a read, which may take seconds on a real drive. A read that
// finishes for a range that has since changed is dropped.
#include <linux/cdrom.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "audio/digital_player.h"
#include "platform/platform.h"

namespace {

constexpr char text_unreadable[] = "audio sector %02d:%02d:%02d unreadable, played as silence\n";

constexpr std::size_t sector_bytes = CD_FRAMESIZE_RAW;
constexpr int piece_sectors = 4;
constexpr int read_retries = 3;

enum class read_result { read, disc_gone };

int read_sectors(int drive, int first, int count, std::uint8_t *into) {
  cdrom_read_audio request{};
  request.addr.lba = first - CD_MSF_OFFSET;
  request.addr_format = CDROM_LBA;
  request.nframes = count;
  request.buf = into;
  return platform::drive_request(drive, CDROMREADAUDIO, &request) == -1 ? errno : 0;
}

void report_unreadable(int frame) {
  const int seconds = frame / CD_FRAMES;
  std::printf(text_unreadable, seconds / CD_SECS, seconds % CD_SECS, frame % CD_FRAMES);
}

// Reads `count` sectors from `first`. When the piece fails, each of its
// sectors is read alone, a few times, and one that never reads becomes
// silence, so that the music keeps its time.
read_result read_piece(int drive, int first, int count, std::uint8_t *into) {
  int error = read_sectors(drive, first, count, into);
  if (error == 0) return read_result::read;
  if (error == ENOMEDIUM) return read_result::disc_gone;
  for (int i = 0; i < count; ++i) {
    std::uint8_t *sector = into + i * sector_bytes;
    error = EIO;
    for (int attempt = 0; attempt <= read_retries && error != 0; ++attempt) {
      error = read_sectors(drive, first + i, 1, sector);
      if (error == ENOMEDIUM) return read_result::disc_gone;
    }
    if (error != 0) {
      std::memset(sector, 0, sector_bytes);
      report_unreadable(first + i);
    }
  }
  return read_result::read;
}

int capacity_sectors(const std::vector<std::uint8_t> &buffer) {
  return static_cast<int>(buffer.size() / sector_bytes);
}

}  // namespace

void *digital_player::run_reader(void *self) {
  static_cast<digital_player *>(self)->read_ahead();
  return nullptr;
}

bool digital_player::wants_read() const {
  return !disc_gone_ && next_read_ < command_.end && buffered_count_ < capacity_sectors(buffer_);
}

void digital_player::read_ahead() {
  std::uint8_t piece[piece_sectors * sector_bytes];
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    reader_wake_.wait(hold, [this] { return command_.quit || wants_read(); });
    if (command_.quit) return;
    const unsigned generation = command_.generation;
    const int drive = command_.drive;
    const int from = next_read_;
    const int count =
        std::min({piece_sectors, command_.end - from, capacity_sectors(buffer_) - buffered_count_});
    hold.unlock();
    const read_result result = read_piece(drive, from, count, piece);
    hold.lock();
    // A new range, or one cut short below this piece, drops it.
    if (generation != command_.generation || next_read_ != from || from + count > command_.end) {
      continue;
    }
    if (result == read_result::disc_gone) {
      disc_gone_ = true;
      buffered_count_ = 0;
      state_ = progress::idle;
    } else {
      keep(piece, count);
      next_read_ = from + count;
    }
    wake_writer();
  }
}

// With lock_ held: appends `count` sectors behind what is buffered.
void digital_player::keep(const std::uint8_t *sectors, int count) {
  const int capacity = capacity_sectors(buffer_);
  for (int i = 0; i < count; ++i) {
    const int slot = (buffer_head_ + buffered_count_) % capacity;
    std::memcpy(buffer_.data() + slot * sector_bytes, sectors + i * sector_bytes, sector_bytes);
    ++buffered_count_;
  }
}

// With lock_ held: moves up to `most` of the oldest sectors into `into`;
// returns how many. The reader gets the room.
int digital_player::take(std::uint8_t *into, int most) {
  const int capacity = capacity_sectors(buffer_);
  const int count = std::min(most, buffered_count_);
  for (int i = 0; i < count; ++i) {
    std::memcpy(into + i * sector_bytes, buffer_.data() + buffer_head_ * sector_bytes,
                sector_bytes);
    buffer_head_ = (buffer_head_ + 1) % capacity;
  }
  buffered_count_ -= count;
  buffered_first_ += count;
  if (count > 0) reader_wake_.notify_all();
  return count;
}
