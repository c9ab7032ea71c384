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
#include "util/clock.h"

namespace {

constexpr char text_unreadable[] =
    "audio %02d:%02d:%02d to %02d:%02d:%02d unreadable, played as silence\n";

constexpr std::size_t sector_bytes = CD_FRAMESIZE_RAW;
constexpr int piece_sectors = 4;
// The first step over a scratch, and the least: a tenth of a second.
constexpr int least_step = 8;
// The longest step ahead: a minute.
constexpr int max_step = 60 * CD_FRAMES;
// How far the search may let the buffer run dry, in its own reckoning:
// the card and the writer's hand hold 0.2 s more than it counts.
constexpr std::int64_t dry_allowed_ns = 400'000'000;
// Failing reads no slower than a piece read at 1x (53 ms) are no risk at
// all: a drive that gives up at once, a disc image with a bad block.
constexpr std::int64_t quick_failure_ns = 60'000'000;

// 0, or the errno of the failed read.
int read_sectors(int drive, int first, int count, std::uint8_t *into) {
  cdrom_read_audio request{};
  request.addr.lba = first - CD_MSF_OFFSET;
  request.addr_format = CDROM_LBA;
  request.nframes = count;
  request.buf = into;
  return platform::drive_request(drive, CDROMREADAUDIO, &request) == 0 ? 0 : errno;
}

void report_unreadable(int first, int last) {
  const int from = first / CD_FRAMES, to = last / CD_FRAMES;
  std::printf(text_unreadable, from / CD_SECS, from % CD_SECS, first % CD_FRAMES, to / CD_SECS,
              to % CD_SECS, last % CD_FRAMES);
  std::fflush(stdout);
}

int capacity_sectors(const std::vector<std::uint8_t> &buffer) {
  return static_cast<int>(buffer.size() / sector_bytes);
}

std::int64_t sectors_ns(int sectors) { return std::int64_t{sectors} * 1'000'000'000 / CD_FRAMES; }

}  // namespace

void *digital_player::run_reader(void *self) {
  static_cast<digital_player *>(self)->read_ahead();
  return nullptr;
}

bool digital_player::wants_read() const {
  return !disc_gone_ && next_read_ < command_.end && buffered_count_ < capacity_sectors(buffer_);
}

void digital_player::lose_disc() {
  disc_gone_ = true;
  buffered_count_ = 0;
  state_ = progress::idle;
  scratch_.active = false;
  wake_writer();
}

// With lock_ held; the lock is let go for the read, which may take
// seconds. Stale when the range changed meanwhile or the disc went: the
// sectors are of no use then. `took` is how long the read took.
digital_player::read_outcome digital_player::read_unlocked(std::unique_lock<std::mutex> &hold,
                                                           int frame, int count, std::uint8_t *into,
                                                           std::int64_t &took) {
  const unsigned generation = command_.generation;
  const int drive = command_.drive;
  hold.unlock();
  const std::int64_t start = util::monotonic_ns();
  const int error = read_sectors(drive, frame, count, into);
  took = util::monotonic_ns() - start;
  hold.lock();
  if (generation != command_.generation) return read_outcome::stale;
  if (error == ENOMEDIUM) {
    lose_disc();
    return read_outcome::stale;
  }
  return error == 0 ? read_outcome::read : read_outcome::failed;
}

void digital_player::read_ahead() {
  std::uint8_t piece[piece_sectors * sector_bytes];
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    reader_wake_.wait(hold, [this] { return command_.quit || wants_read(); });
    if (command_.quit) return;
    if (scratch_.generation != command_.generation) scratch_ = {.generation = command_.generation};
    const int room = capacity_sectors(buffer_) - buffered_count_;
    if (next_read_ < scratch_.silent_to) {
      keep_silence(std::min({room, scratch_.silent_to - next_read_, command_.end - next_read_}));
      continue;
    }
    if (scratch_.active) {
      step_over_scratch(hold);
      continue;
    }
    const int from = next_read_;
    const int count = std::min({piece_sectors, command_.end - from, room});
    const int ahead = buffered_count_;
    const std::int64_t started = util::monotonic_ns();
    std::int64_t took = 0;
    const read_outcome result = read_unlocked(hold, from, count, piece, took);
    if (result == read_outcome::stale) continue;
    // A range cut short below this piece drops it.
    if (next_read_ != from || from + count > command_.end) continue;
    if (result == read_outcome::read) {
      keep(piece, count);
      next_read_ = from + count;
      wake_writer();
      continue;
    }
    scratch_ = {
        .generation = command_.generation,
        .active = true,
        .begin = from,
        .tentative_to = from + count,
        .silent_to = from + count,
        .good = -1,
        .step = std::max<int>(least_step, static_cast<int>(took * CD_FRAMES / 1'000'000'000)),
        .failing_ns = took,
        .started_ns = started,
        .ahead = ahead};
    // Where in the piece the scratch begins is worked out now, when that
    // leaves time for the search of its end; else the piece is silence for
    // now, and its good sectors are put in their places later, if time is
    // left then.
    if (scratch_affordable(2, 0)) settle_piece(hold);
  }
}

// With lock_ held and the scratch found in the piece from next_read_: its
// sectors one by one, the good ones kept, up to the first that fails.
void digital_player::settle_piece(std::unique_lock<std::mutex> &hold) {
  scratch_search &s = scratch_;
  s.start_found = true;
  std::uint8_t sector[sector_bytes];
  for (int frame = next_read_; frame < s.tentative_to; ++frame) {
    std::int64_t took = 0;
    const read_outcome result = read_unlocked(hold, frame, 1, sector, took);
    if (result == read_outcome::stale) return;
    if (next_read_ != frame || frame >= command_.end) break;  // cut short meanwhile
    if (result == read_outcome::failed) {
      s.begin = frame;
      s.silent_to = frame + 1;
      s.failing_ns = std::max(s.failing_ns, took);
      return;
    }
    keep(sector, 1);
    ++next_read_;
    ++s.ahead;
    wake_writer();
  }
  // Every sector read this time: the piece failed in passing.
  s.active = false;
  s.silent_to = next_read_;
}

// With lock_ held: `count` sectors of silence behind what is buffered.
void digital_player::keep_silence(int count) {
  static const std::uint8_t silence[sector_bytes] = {};
  for (int i = 0; i < count; ++i) keep(silence, 1);
  next_read_ += count;
  if (scratch_.active) scratch_.ahead += count;
  wake_writer();
}

// Whether `reads` more failing reads may be risked, when a failure would
// add `gain` sectors of silence. The writer plays on in real time: the
// audio the scratch began with and all added since, less the time spent on
// it and on the reads, is what is left in hand; the card may run dry for a
// moment (a little silence beyond the scratch is better than good sectors
// lost), not longer. Failing reads as fast as good ones risk nothing, and a
// paused stream spends nothing.
bool digital_player::scratch_affordable(int reads, int gain) const {
  const scratch_search &s = scratch_;
  if (command_.paused || s.failing_ns <= quick_failure_ns) return true;
  const std::int64_t spent = util::monotonic_ns() - s.started_ns + reads * s.failing_ns;
  return spent - sectors_ns(s.ahead + gain) <= dry_allowed_ns;
}

// With lock_ held and everything before scratch_.silent_to buffered: one
// read that brings the end of the scratch closer. First steps ahead, each
// twice the one before and at least as long as a failing read takes to
// play, so that the silence a failed step adds pays for it (a scratch is
// one run of bad sectors: everything up to a failed step is taken as bad).
// Once a sector reads, the gap between the last bad sector and it is
// halved while time allows two more failing reads, then searched down from
// the good end (reads that work cost little, and the first that fails ends
// it) while it allows one; what is left of the gap then is silence too.
void digital_player::step_over_scratch(std::unique_lock<std::mutex> &hold) {
  scratch_search &s = scratch_;
  const int end = command_.end;
  int probe = 0;
  if (s.good < 0) {
    probe = s.silent_to - 1 + s.step;
    s.step = std::min(s.step * 2, max_step);
    if (probe >= end) s.good = end;
  }
  if (s.good >= 0) {
    // The start costs one failing read and saves at most a few sectors: it
    // goes first only when time allows the end's search as well.
    if (!s.start_found && scratch_affordable(3, 0)) {
      find_scratch_start(hold);
      return;
    }
    const int middle = (s.silent_to - 1 + s.good) / 2;
    if (s.silent_to < s.good && scratch_affordable(2, middle + 1 - s.silent_to)) {
      probe = middle;
    } else if (s.silent_to < s.good && scratch_affordable(1, 0)) {
      probe = s.good - 1;
    } else {
      s.silent_to = s.good;
      if (next_read_ < s.silent_to) return;  // the silence first
      finish_scratch(hold);
      return;
    }
  }
  std::uint8_t sector[sector_bytes];
  std::int64_t took = 0;
  const read_outcome result = read_unlocked(hold, probe, 1, sector, took);
  if (result == read_outcome::stale) return;
  if (result == read_outcome::read) {
    s.good = probe;
  } else {
    s.failing_ns = std::max(s.failing_ns, took);
    s.silent_to = probe + 1;
  }
}

// With lock_ held: where the failed piece held good sectors before the
// scratch, and they still wait in the buffer, they are read one by one and
// put in their places. It ends with one failing read, the scratch's first
// sector. False when the range changed meanwhile.
bool digital_player::find_scratch_start(std::unique_lock<std::mutex> &hold) {
  scratch_search &s = scratch_;
  s.start_found = true;
  std::uint8_t sector[sector_bytes];
  while (s.begin < s.tentative_to && s.begin >= buffered_first_) {
    std::int64_t took = 0;
    const int frame = s.begin;
    const read_outcome result = read_unlocked(hold, frame, 1, sector, took);
    if (result == read_outcome::stale) return false;
    if (result != read_outcome::read || frame < buffered_first_) break;
    const int capacity = capacity_sectors(buffer_);
    const int slot = (buffer_head_ + (frame - buffered_first_)) % capacity;
    std::memcpy(buffer_.data() + slot * sector_bytes, sector, sector_bytes);
    ++s.begin;
  }
  return true;
}

// With lock_ held, the scratch's end found: its start too when time is left
// for that, then its one console line.
void digital_player::finish_scratch(std::unique_lock<std::mutex> &hold) {
  if (!scratch_.start_found && scratch_affordable(1, 0) && !find_scratch_start(hold)) return;
  scratch_.active = false;
  report_unreadable(scratch_.begin, scratch_.silent_to - 1);
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
