// The streaming thread of digital playback and the drive-like answers about
// it. The thread owns the PCM player and the piece of audio in hand; the
// other threads only leave commands (a new range, pause, quit) under the
// lock and wake it through an eventfd, and read back what it reports.
#include "audio/digital_player.h"

#include <linux/cdrom.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/pcm_output.h"
#include "platform/platform.h"
#include "util/signal_mask.h"

namespace {

constexpr char text_unreadable[] = "audio sector %02d:%02d:%02d unreadable, played as silence\n";
constexpr char text_player_died[] = "pcm player died unexpected\n";

constexpr std::size_t sector_bytes = CD_FRAMESIZE_RAW;
// Four sectors (53 ms of audio) a request: little in flight, few requests.
constexpr int piece_sectors = 4;
constexpr int read_retries = 3;
constexpr int restart_delay_milliseconds = 1000;

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

}  // namespace

digital_player::~digital_player() {
  // A forked child has a copy of this object but not the thread.
  if (started_ && owner_ == getpid()) stop();
}

int digital_player::play(int fd, int first, int end) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    ++command_.generation;
    command_.drive = fd;
    command_.first = first;
    command_.end = end;
    command_.paused = false;
    // An empty range plays nothing, as on a drive.
    state_ = first < end ? progress::playing : progress::idle;
    sounding_ = first;
  }
  if (!started_) {
    wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_) return 0;
    if (pthread_create(&worker_, nullptr, run, this) != 0) {
      wake_.reset();
      return 0;
    }
    started_ = true;
    owner_ = getpid();
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_.get(), &one, sizeof one);
  return 1;
}

int digital_player::pause() {
  if (!started_) return 0;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (state_ == progress::playing) command_.paused = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_.get(), &one, sizeof one);
  return 1;
}

int digital_player::resume() {
  if (!started_) return 0;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    command_.paused = false;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_.get(), &one, sizeof one);
  return 1;
}

void digital_player::stop() {
  if (!started_) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    command_.quit = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_.get(), &one, sizeof one);
  pthread_join(worker_, nullptr);
  wake_.reset();
  started_ = false;
  const std::lock_guard<std::mutex> hold(lock_);
  command_.quit = false;
  command_.paused = false;
  state_ = progress::idle;
}

bool digital_player::active() { return started_; }

int digital_player::status(int &frame) {
  const std::lock_guard<std::mutex> hold(lock_);
  frame = sounding_;
  switch (state_) {
    case progress::completed:
      state_ = progress::idle;  // reported once, as a drive does
      return CDROM_AUDIO_COMPLETED;
    case progress::idle:
      return CDROM_AUDIO_NO_STATUS;
    case progress::playing:
    default:
      return command_.paused ? CDROM_AUDIO_PAUSED : CDROM_AUDIO_PLAY;
  }
}

void *digital_player::run(void *self) {
  // A player that dies breaks the pipe; that must end the write, not the
  // process.
  const util::blocked_signals broken_pipe{SIGPIPE};
  static_cast<digital_player *>(self)->stream();
  return nullptr;
}

digital_player::command digital_player::take_command() {
  const std::lock_guard<std::mutex> hold(lock_);
  return command_;
}

void digital_player::wait_for_command(int timeout_milliseconds) {
  pollfd woken{wake_.get(), POLLIN, 0};
  if (poll(&woken, 1, timeout_milliseconds) > 0) {
    std::uint64_t count;
    [[maybe_unused]] const ssize_t got = read(wake_.get(), &count, sizeof count);
  }
}

void digital_player::report_sounding(unsigned generation, int frame) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (generation == command_.generation) sounding_ = frame;
}

void digital_player::report(unsigned generation, progress state) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (generation == command_.generation) state_ = state;
}

// One step at a time: take the latest command, then do the one thing that
// is due (switch ranges, wait, read a piece, start the player, write).
// Every wait also wakes on a new command.
void digital_player::stream() {
  pcm_output output;
  bool output_failed = false;
  std::vector<std::uint8_t> hand(piece_sectors * sector_bytes);
  std::size_t hand_size = 0;  // bytes of audio in hand
  std::size_t written = 0;    // of them, handed to the player
  int hand_first = 0;         // the frame hand[0] belongs to
  bool have_range = false;
  unsigned generation = 0;
  int position = 0;  // the next frame to read
  int end = 0;
  bool finished = false;  // the range is over or its disc gone: wait for a new one
  for (;;) {
    const command latest = take_command();
    if (latest.quit) return;
    if (!have_range || latest.generation != generation) {
      if (written % sector_bytes != 0) {
        // Finish the sector begun, so that the player's stream stays whole
        // samples and the new range starts on a sector.
        hand_size = written + sector_bytes - written % sector_bytes;
      } else {
        have_range = true;
        generation = latest.generation;
        position = latest.first;
        end = latest.end;
        hand_size = written = 0;
        finished = latest.first >= latest.end;
        continue;
      }
    }
    if (latest.paused || finished) {
      wait_for_command(-1);
      continue;
    }
    if (written == hand_size) {
      if (position >= end) {
        report(generation, progress::completed);
        finished = true;
        continue;
      }
      const int count = std::min(piece_sectors, end - position);
      if (read_piece(latest.drive, position, count, hand.data()) == read_result::disc_gone) {
        output.end();
        report(generation, progress::idle);
        finished = true;
        continue;
      }
      hand_first = position;
      hand_size = static_cast<std::size_t>(count) * sector_bytes;
      written = 0;
      position += count;
      continue;
    }
    if (!output.running()) {
      if (output_failed) {
        output_failed = false;
        wait_for_command(restart_delay_milliseconds);
        continue;
      }
      if (output.start() == 0) output_failed = true;
      continue;
    }
    const ssize_t count = write(output.input(), hand.data() + written, hand_size - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
      report_sounding(generation, hand_first + static_cast<int>((written - 1) / sector_bytes));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno == EAGAIN) {
      pollfd watched[2] = {{output.input(), POLLOUT, 0}, {wake_.get(), POLLIN, 0}};
      if (poll(watched, 2, -1) > 0 && (watched[1].revents & POLLIN)) {
        std::uint64_t commands;
        [[maybe_unused]] const ssize_t got = read(wake_.get(), &commands, sizeof commands);
      }
      continue;
    }
    // The player is gone. A new one starts at the beginning of this sector.
    std::fputs(text_player_died, stdout);
    output.end();
    output_failed = true;
    written -= written % sector_bytes;
  }
}
