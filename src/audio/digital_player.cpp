// The commands of digital playback and its drive-like answers. The calling
// thread only leaves commands under the lock and wakes the reader (a
// condition variable) and the writer (an eventfd); the threads do the work
// (digital_read_ahead.cpp, digital_stream.cpp).
#include "audio/digital_player.h"

#include <linux/cdrom.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

digital_player::~digital_player() {
  // A forked child has a copy of this object but not the threads.
  if (started_ && owner_ == getpid()) stop();
}

int digital_player::play(int fd, int first, int end) { return start(fd, first, end, false); }

int digital_player::cue(int fd, int first, int end) { return start(fd, first, end, true); }

int digital_player::start(int fd, int first, int end, bool cued) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    const bool carry_on = started_ && command_.cued && !cued && command_.drive == fd &&
                          command_.first == first && state_ == progress::playing && !disc_gone_;
    if (carry_on) {
      // What the cue read ahead is the start of this range: it sounds now,
      // and the range ends where this play says.
      command_.end = end;
      if (next_read_ > end) {
        next_read_ = std::max(end, first);
        buffered_count_ = std::clamp(end - buffered_first_, 0, buffered_count_);
      }
    } else {
      ++command_.generation;
      command_.drive = fd;
      command_.first = first;
      command_.end = end;
      buffered_count_ = 0;
      buffered_first_ = first;
      next_read_ = first;
      disc_gone_ = false;
      // An empty range plays nothing, as on a drive.
      state_ = first < end ? progress::playing : progress::idle;
      sounding_ = first;
    }
    command_.cued = cued;
    command_.paused = false;
  }
  if (!started_ && !start_threads()) return 0;
  command_changed();
  return 1;
}

bool digital_player::start_threads() {
  const int sectors = read_ahead_seconds * CD_FRAMES;
  buffer_.resize(static_cast<std::size_t>(sectors) * CD_FRAMESIZE_RAW);
  wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_) return false;
  if (pthread_create(&reader_, nullptr, run_reader, this) != 0) {
    wake_.reset();
    return false;
  }
  if (pthread_create(&writer_, nullptr, run_writer, this) != 0) {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      command_.quit = true;
    }
    reader_wake_.notify_all();
    pthread_join(reader_, nullptr);
    wake_.reset();
    const std::lock_guard<std::mutex> hold(lock_);
    command_.quit = false;
    return false;
  }
  started_ = true;
  owner_ = getpid();
  return true;
}

void digital_player::wake_writer() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_.get(), &one, sizeof one);
}

void digital_player::command_changed() {
  reader_wake_.notify_all();
  wake_writer();
}

int digital_player::pause() {
  if (!started_) return 0;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (state_ == progress::playing) command_.paused = true;
  }
  command_changed();
  return 1;
}

int digital_player::resume() {
  if (!started_) return 0;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    command_.paused = false;
    command_.cued = false;
  }
  command_changed();
  return 1;
}

// The writer goes first, and with it the player: the music stops at once,
// even while the reader still waits for a read the drive is slow with.
void digital_player::stop() {
  if (!started_) return;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    command_.quit = true;
  }
  command_changed();
  pthread_join(writer_, nullptr);
  pthread_join(reader_, nullptr);
  wake_.reset();
  started_ = false;
  const std::lock_guard<std::mutex> hold(lock_);
  command_.quit = false;
  command_.paused = false;
  command_.cued = false;
  state_ = progress::idle;
  buffered_count_ = 0;
}

bool digital_player::active() { return started_; }

bool digital_player::streaming() {
  if (!started_) return false;
  const std::lock_guard<std::mutex> hold(lock_);
  return state_ == progress::playing;
}

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
