// The writer of digital playback: owns the PCM player and the piece of
// audio in hand, takes the next piece from the read-ahead buffer and writes
// it into the player's pipe as fast as the player takes it. It never waits
// for the drive, so a read that takes seconds is not heard while the buffer
// lasts.
#include <linux/cdrom.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "audio/digital_player.h"
#include "audio/pcm_output.h"
#include "util/signal_mask.h"

namespace {

constexpr char text_player_died[] = "pcm player died unexpected\n";
constexpr char text_player_not_executed[] = "pcm player could not be executed: %s\n";

constexpr std::size_t sector_bytes = CD_FRAMESIZE_RAW;
// Four sectors (53 ms of audio) in hand at a time: little to finish before
// a new range.
constexpr int piece_sectors = 4;
constexpr int restart_delay_milliseconds = 1000;

}  // namespace

void *digital_player::run_writer(void *self) {
  // A player that dies breaks the pipe; that must end the write, not the
  // process.
  const util::blocked_signals broken_pipe{SIGPIPE};
  static_cast<digital_player *>(self)->stream();
  return nullptr;
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

// One step at a time: under the lock, follow the latest command and take
// audio when the hand is empty; then do the one thing that is due (wait,
// start the player, write). Every wait also wakes on a new command or on
// audio read.
void digital_player::stream() {
  pcm_output output;
  bool output_failed = false;
  std::uint8_t hand[piece_sectors * sector_bytes];
  std::size_t hand_size = 0;  // bytes of audio in hand
  std::size_t written = 0;    // of them, handed to the player
  int hand_first = 0;         // the frame hand[0] belongs to
  bool have_range = false;
  unsigned generation = 0;
  for (;;) {
    bool holding = false;  // paused or cued: the hand waits
    bool gone = false;
    {
      const std::lock_guard<std::mutex> hold(lock_);
      if (command_.quit) return;
      if (!have_range || command_.generation != generation) {
        if (written % sector_bytes != 0) {
          // Finish the sector begun, so that the player's stream stays
          // whole samples and the new range starts on a sector.
          hand_size = written + sector_bytes - written % sector_bytes;
        } else {
          have_range = true;
          generation = command_.generation;
          hand_size = written = 0;
        }
      }
      const bool same_range = generation == command_.generation;
      holding = same_range && (command_.paused || command_.cued);
      gone = same_range && disc_gone_;
      if (same_range && !holding && !gone && written == hand_size) {
        const int count = take(hand, piece_sectors);
        hand_first = buffered_first_ - count;
        hand_size = static_cast<std::size_t>(count) * sector_bytes;
        written = 0;
        if (count == 0 && next_read_ >= command_.end && state_ == progress::playing) {
          state_ = progress::completed;
        }
      }
    }
    if (gone) {
      output.end();
      hand_size = written = 0;
      wait_for_command(-1);
      continue;
    }
    if (holding || written == hand_size) {
      wait_for_command(-1);
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
    const ssize_t count = write(output.input(), hand + written, hand_size - written);
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
    if (const int error = output.end()) std::printf(text_player_not_executed, std::strerror(error));
    output_failed = true;
    written -= written % sector_bytes;
  }
}
