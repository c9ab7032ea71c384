// The writer thread of the frame pipeline. It hands frames on in bursts. A
// thread that waits sleeps and has to be woken, and that costs more than all
// else a frame takes; the semaphores' strict alternation wakes one thread
// or the other twice a frame, but the wait for the pipe to drain comes only
// once a burst. The first frame of a burst goes into the drained pipe at
// once, so that the decoder never waits for the rest; the next ones gather
// in the stream buffer and go on in one write when the frame after them
// starts the next burst. While the writer waits, the stream buffer holds
// nothing and the pipe at most one burst: with the frame in hand, the one
// held back and the one the decoder plays that is 8 frames, 0.21 s at
// 128 kbit/s, and every key is heard within 0.3 s. The stream buffer is one
// pipe page (frame_pipe.h), so that a burst always fits the drained pipe.
#include <poll.h>
#include <stdio_ext.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "mp3/decoder.h"
#include "mp3/mpeg_header.h"
#include "mp3/pipeline.h"

namespace {

constexpr char text_writer_started[] = "write thread started\n";
constexpr char text_nothing_to_write[] = "unable to write!empty buffer\n";
constexpr char text_not_a_frame[] = "write NON mpeg 1 Layer X frame\n";
constexpr char text_partial_write[] = "only wrote %i from %i to mpg123\n";
constexpr char text_write_failed[] = "unable to write to mpg123\n";

constexpr int frames_per_burst = 5;

}  // namespace

void *frame_pipeline::write_func() {
  std::fputs(text_writer_started, stdout);
  while (wait_for(write_semaphore())) {
    if (buffer_stat_ != ring_state::frame_ready && write_buffer_ == read_buffer_) {
      std::fputs(text_nothing_to_write, stdout);
      continue;
    }
    if (player_status == status_paused && !wait_for(pause_semaphore())) break;
    write_slot();
  }
  writer_finished_ = true;
  return nullptr;
}

// The frame pipe holds one page, the least the kernel allows, but it takes
// new bytes for as long as the page has room at its end, so a writer left
// to block only when it is full keeps up to a page queued for the decoder:
// a quarter of a second at 128 kbit/s. A burst is therefore written only
// into a drained pipe; a one-page pipe is writable only when empty.
void frame_pipeline::wait_until_pipe_drained() {
  pollfd drained{fileno(stream_.get()), POLLOUT, 0};
  while (poll(&drained, 1, -1) < 0 && errno == EINTR && !ending_) {
  }
}

// Whether `length` more bytes start a new burst; on an unbuffered stream
// every frame does.
bool frame_pipeline::starts_burst(int length) const {
  return frames_in_burst_ >= frames_per_burst ||
         __fpending(stream_.get()) + static_cast<std::size_t>(length) > __fbufsize(stream_.get());
}

// Moves the writer onto the pipe of a decoder that replaced the one before.
// What the old stream still buffered was meant for the decoder that is gone;
// when no stream can be made on the new pipe, the writer stays on the old
// one.
void frame_pipeline::switch_to_decoder_pipe(util::unique_fd write_end) {
  const int number = write_end.get();
  if (!stream_.open(std::move(write_end))) return;
  write_f = stream_.get();
  pipe_data[1] = number;
  frames_in_burst_ = 0;
}

// After the pipe broke: the pipe of the decoder that replaces the one gone;
// empty when there is none or the pipeline is ending.
util::unique_fd frame_pipeline::await_decoder_pipe() {
  if (decoder_ == nullptr || ending_) return util::unique_fd();
  return decoder_->await_pipe();
}

// Writes the burst the stream buffers into the drained pipe and lets the
// pipe drain again. A burst whose decoder ended under it is dropped with
// the stream: it was meant for the decoder that is gone.
void frame_pipeline::hand_on_burst() {
  errno = 0;
  bool written = std::fflush(stream_.get()) == 0;
  while (!written && errno == EPIPE) {
    util::unique_fd write_end = await_decoder_pipe();
    if (!write_end) break;
    switch_to_decoder_pipe(std::move(write_end));
    errno = 0;
    written = std::fflush(stream_.get()) == 0;
  }
  if (!written && !ending_) std::fputs(text_write_failed, stdout);
  frames_in_burst_ = 0;
  if (!ending_) wait_until_pipe_drained();
}

// Puts a frame into the stream; `at_once` passes it on to the pipe as well.
int frame_pipeline::put_frame(const std::uint8_t *frame, int length, bool at_once) {
  errno = 0;
  const int written = static_cast<int>(std::fwrite(frame, 1, length, stream_.get()));
  if (at_once && written == length && std::fflush(stream_.get()) != 0) return 0;
  return written;
}

// Writes one frame; a frame whose decoder ended under it goes whole to the
// decoder that replaces it. The first frame of a burst goes to the drained
// pipe at once: the decoder then never waits for the rest of the burst.
int frame_pipeline::send_frame(const std::uint8_t *frame, int length) {
  if (decoder_ != nullptr) {
    if (util::unique_fd write_end = decoder_->take_pipe()) {
      switch_to_decoder_pipe(std::move(write_end));
    }
  }
  const bool first_of_burst = starts_burst(length);
  if (first_of_burst) hand_on_burst();
  int written = put_frame(frame, length, first_of_burst);
  while (written != length && errno == EPIPE) {
    util::unique_fd write_end = await_decoder_pipe();
    if (!write_end) break;
    switch_to_decoder_pipe(std::move(write_end));
    written = put_frame(frame, length, first_of_burst);
  }
  ++frames_in_burst_;
  return written;
}

void frame_pipeline::write_slot() {
  const int slot = next_slot(write_buffer_);
  write_buffer_ = slot;
  buffer_stat_ = ring_state::writer_writing;
  const int held_back = read_buffer_;
  if (held_back >= 0 && !mpeg_frame_valid(slots_[held_back])) {
    std::fputs(text_not_a_frame, stdout);
  }
  const int length = lengths_[slot];
  if (ending_) return;
  const int written = send_frame(slots_[slot], length);
  if (ending_) return;
  if (written != length) {
    if (written > 0) {
      std::printf(text_partial_write, written, length);
    } else {
      std::fputs(text_write_failed, stdout);
    }
  }
  buffer_stat_ = ring_state::free;
  if (player_status != status_stopped) sem_post(read_semaphore());
}
