// The frame pipeline: its set-up and end, the reader thread and the writer
// thread. Each pass of the reader prepares one frame and each write sends
// one; a frame accepted in a pass is written only after the next pass, so
// one frame is always held back. buffer_stat tells a pass started by a
// stray post (stop and start pressed while a write is still in hand) to
// give way instead of touching a slot the writer is using. A title that
// ends without having handed a single frame over and is selected again
// (the last title of an album repeats) is reopened only after a second:
// otherwise the reader would search it again and again at full speed.
#include "mp3/pipeline.h"

#include <poll.h>
#include <signal.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

#include "mp3/decoder.h"
#include "mp3/frame_reader.h"
#include "mp3/mode_exit.h"
#include "mp3/mpeg_header.h"
#include "mp3/selection.h"

namespace {

constexpr char text_semaphore_failed[] = "Problems during semaphore init.\n";
constexpr char text_create_reader[] = "Create read thread...\n";
constexpr char text_create_writer[] = "Create write thread...\n";

// Interrupts a writer blocked in a write that nobody drains.
constexpr int wake_writer_signal = SIGUSR1;
constexpr auto wake_writer_interval = std::chrono::milliseconds(10);

constexpr char text_reader_started[] = "read thread started\n";
constexpr char text_problem[] = "PROBLEM\n";
constexpr char text_end_of_file[] = "at end of file, open next\n";

// One frame is always held back, so the title has handed a frame over to
// the writer only once a second pass has accepted one.
constexpr int passes_for_a_frame_handed_over = 2;

constexpr char text_writer_started[] = "write thread started\n";
constexpr char text_nothing_to_write[] = "unable to write!empty buffer\n";
constexpr char text_not_a_frame[] = "write NON mpeg 1 Layer X frame\n";
constexpr char text_partial_write[] = "only wrote %i from %i to mpg123\n";
constexpr char text_write_failed[] = "unable to write to mpg123\n";

constexpr int frames_per_burst = 5;

int next_slot(int index) { return index == ring_slots - 1 ? 0 : index + 1; }

void ignore_signal(int) {}

}  // namespace

frame_pipeline::frame_pipeline(library_position &position, frame_stream::buffering buffering)
    : position_(position), stream_(buffering) {}

frame_pipeline::~frame_pipeline() {
  stop_reader();
  stop_writer();
  close_pipe();
  for (int i = 0; i < semaphore_count; ++i) {
    if (semaphore_ready_[i]) sem_destroy(&semaphores_[i]);
    semaphore_ready_[i] = false;
  }
}

bool frame_pipeline::open_pipe() { return make_frame_pipe(pipe_); }

void frame_pipeline::init_semaphores() {
  for (int i = 0; i < semaphore_count; ++i) {
    semaphore_ready_[i] = sem_init(&semaphores_[i], 0, 0) == 0;
    if (!semaphore_ready_[i]) std::fputs(text_semaphore_failed, stdout);
  }
}

bool frame_pipeline::open_stream() { return stream_.open(std::move(pipe_.write_end)); }

util::unique_fd frame_pipeline::take_read_end() { return std::move(pipe_.read_end); }

bool frame_pipeline::start_threads(decoder_process *decoder) {
  decoder_ = decoder;
  signal(SIGPIPE, SIG_IGN);
  struct sigaction wake = {};
  wake.sa_handler = ignore_signal;  // no SA_RESTART: a blocked write returns
  sigemptyset(&wake.sa_mask);
  sigaction(wake_writer_signal, &wake, nullptr);
  ending_ = false;
  writer_finished_ = false;
  frames_in_burst_ = 0;
  const auto reader = [](void *self) { return static_cast<frame_pipeline *>(self)->read_func(); };
  const auto writer = [](void *self) { return static_cast<frame_pipeline *>(self)->write_func(); };
  std::fputs(text_create_reader, stdout);
  reader_running_ = pthread_create(&reader_, nullptr, reader, this) == 0;
  if (!reader_running_) return false;
  std::fputs(text_create_writer, stdout);
  writer_running_ = pthread_create(&writer_, nullptr, writer, this) == 0;
  return writer_running_;
}

void frame_pipeline::set_reopen_delay(std::chrono::milliseconds delay) {
  const std::lock_guard<std::mutex> hold(reopen_lock_);
  reopen_delay_ = delay;
}

void frame_pipeline::stop_reader() {
  {
    const std::lock_guard<std::mutex> hold(reopen_lock_);
    ending_ = true;
  }
  reopen_wake_.notify_all();
  if (!reader_running_) return;
  sem_post(read_semaphore());
  pthread_join(reader_, nullptr);
  reader_running_ = false;
}

void frame_pipeline::stop_writer() {
  ending_ = true;
  if (!writer_running_) return;
  if (decoder_ != nullptr) decoder_->release_writer();
  sem_post(write_semaphore());
  sem_post(pause_semaphore());
  // The writer may sit in a write that the decoder never drains: interrupt
  // it, and again, until it has seen that the pipeline is ending.
  while (!writer_finished_) {
    pthread_kill(writer_, wake_writer_signal);
    usleep(std::chrono::microseconds(wake_writer_interval).count());
  }
  pthread_join(writer_, nullptr);
  writer_running_ = false;
}

void frame_pipeline::close_pipe() {
  stream_.close();
  pipe_ = frame_pipe_ends{};
}

bool frame_pipeline::play() {
  if (player_status == status_paused) {
    resume();
  } else if (player_status == status_stopped) {
    player_status = status_playing;
    post_read();
    return true;
  }
  return false;
}

void frame_pipeline::pause() { player_status = status_paused; }

void frame_pipeline::resume() {
  player_status = status_playing;
  sem_post(pause_semaphore());
}

void frame_pipeline::stop() {
  const int before = player_status;
  if (before == status_playing || before == status_paused) player_status = status_stopped;
  // A writer held by the pause finishes the frame in hand, as on a stop
  // during play; otherwise it would stay held after the next start.
  if (before == status_paused) sem_post(pause_semaphore());
}

void frame_pipeline::forward() { player_status = status_forward; }

void frame_pipeline::rewind() { player_status = status_rewind; }

void frame_pipeline::select(unsigned int interp, unsigned int alb, unsigned int titl) {
  open_file(position_, interp, alb, titl);
}

void frame_pipeline::post_read() { sem_post(read_semaphore()); }

// Waits for a post; false once the pipeline is being ended.
bool frame_pipeline::await_post(sem_t *semaphore) {
  while (sem_wait(semaphore) != 0 && errno == EINTR) {
    if (ending_) return false;
  }
  return !ending_;
}

void *frame_pipeline::read_func() {
  std::fputs(text_reader_started, stdout);
  frame_reader reader;
  while (await_post(read_semaphore())) reader_pass(reader);
  reader_close(reader);
  return nullptr;
}

void frame_pipeline::wait_before_reopening() {
  std::unique_lock<std::mutex> hold(reopen_lock_);
  reopen_wake_.wait_for(hold, reopen_delay_, [this] { return ending_.load(); });
}

void frame_pipeline::open_step(frame_reader &reader) {
  const std::lock_guard<std::mutex> hold(position_.position_lock);
  if (position_.close_input != input_requested) return;
  if (!reader_open(reader, position_.file_name)) end_mode_process(-1);
  title_passes_accepted_ = 0;
  // buffer_stat stays as it is: a frame may still be waiting for the writer.
  position_.close_input = input_current;
}

// The title ended: give the slot back and select the next title, which the
// pass that this thread posts for itself opens at once.
void frame_pipeline::end_of_title(frame_reader &reader) {
  read_buffer_ = read_buffer_ - 1;
  std::fputs(text_end_of_file, stdout);
  reader_close(reader);
  buffer_stat_ = ring_state::free;
  bool same_title_again = false;
  {
    const std::lock_guard<std::mutex> hold(position_.position_lock);
    const std::string ended = position_.file_name;
    ++position_.cur_title;
    open_file(position_, position_.cur_interpret, position_.cur_album, position_.cur_title);
    same_title_again = ended == position_.file_name;
  }
  if (same_title_again && title_passes_accepted_ < passes_for_a_frame_handed_over) {
    wait_before_reopening();
  }
  sem_post(read_semaphore());
}

void frame_pipeline::reader_pass(frame_reader &reader) {
  open_step(reader);
  if (position_.close_input != input_current || buffer_stat_ != ring_state::free) {
    std::fputs(text_problem, stdout);
    return;
  }
  const int slot = next_slot(read_buffer_);
  read_buffer_ = slot;
  buffer_stat_ = ring_state::reader_filling;
  reader_prepare_pass(reader, player_status);
  if (reader_read_frames(reader, slots_[slot], &lengths_[slot]) == frame_outcome::end_of_title) {
    end_of_title(reader);
    reader_warn_frame_size(reader);
  } else {
    ++title_passes_accepted_;
  }
  // Forward and rewind last one pass; a key pressed meanwhile is kept.
  int jump = status_forward;
  if (!player_status.compare_exchange_strong(jump, status_playing)) {
    jump = status_rewind;
    player_status.compare_exchange_strong(jump, status_playing);
  }
  if (buffer_stat_ == ring_state::free) return;
  buffer_stat_ = ring_state::frame_ready;
  sem_post(write_semaphore());
}

// The writer hands frames on in bursts. A
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
void *frame_pipeline::write_func() {
  std::fputs(text_writer_started, stdout);
  while (await_post(write_semaphore())) {
    if (buffer_stat_ != ring_state::frame_ready && write_buffer_ == read_buffer_) {
      std::fputs(text_nothing_to_write, stdout);
      continue;
    }
    if (player_status == status_paused && !await_post(pause_semaphore())) break;
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
  if (!stream_.open(std::move(write_end))) return;
  frames_in_burst_ = 0;
}

// After the pipe broke: moves the writer onto the pipe of the decoder that
// replaces the one gone; false when there is none or the pipeline is ending.
bool frame_pipeline::move_to_replacement_decoder() {
  if (decoder_ == nullptr || ending_) return false;
  util::unique_fd write_end = decoder_->await_pipe();
  if (!write_end) return false;
  switch_to_decoder_pipe(std::move(write_end));
  return true;
}

// Writes the burst the stream buffers into the drained pipe and lets the
// pipe drain again. A burst whose decoder ended under it is dropped with
// the stream: it was meant for the decoder that is gone.
void frame_pipeline::hand_on_burst() {
  errno = 0;
  bool written = std::fflush(stream_.get()) == 0;
  while (!written && errno == EPIPE && move_to_replacement_decoder()) {
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
  if (first_of_burst) {
    hand_on_burst();
    // Leaving interrupted the burst, which is lost: a frame after it would
    // reach the decoder out of order.
    if (ending_) return 0;
  }
  int written = put_frame(frame, length, first_of_burst);
  while (written != length && errno == EPIPE && move_to_replacement_decoder()) {
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
