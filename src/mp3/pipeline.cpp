// The two threads of the frame pipeline and the ring between them. Each pass
// of the reader prepares one frame and each write sends one; a frame accepted
// in a pass is written only after the next pass, so one frame is always held
// back. buffer_stat tells a pass started by a stray post (stop and start
// pressed while a write is still in hand) to give way instead of touching a
// slot the writer is using. A title that ends without having handed a
// single frame over and is selected again (the last title of an album
// repeats) is reopened only after a second: otherwise the reader would
// search it again and again at full speed.
#include "mp3/pipeline.h"

#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "ctl/ctl.h"
#include "mp3/decoder.h"
#include "mp3/frame_pipe.h"
#include "mp3/frame_reader.h"
#include "mp3/mpeg_header.h"
#include "mp3/selection.h"

namespace {

constexpr char text_create_reader[] = "Create read thread...\n";
constexpr char text_create_writer[] = "Create write thread...\n";
constexpr char text_reader_started[] = "read thread started\n";
constexpr char text_problem[] = "PROBLEM\n";
constexpr char text_end_of_file[] = "at end of file, open next\n";
constexpr char text_writer_started[] = "write thread started\n";
constexpr char text_nothing_to_write[] = "unable to write!empty buffer\n";
constexpr char text_not_a_frame[] = "write NON mpeg 1 Layer X frame\n";
constexpr char text_partial_write[] = "only wrote %i from %i to mpg123\n";
constexpr char text_write_failed[] = "unable to write to mpg123\n";

// buffer_stat
constexpr int ring_free = 0;
constexpr int frame_ready = 1;
constexpr int reader_filling = 2;
constexpr int writer_writing = 4;

// close_input
constexpr int input_current = 0;
constexpr int input_requested = 1;

constexpr int wake_writer_signal = SIGUSR1;

std::atomic<bool> pipeline_ending{false};
std::atomic<bool> writer_finished{false};

// The wait before reopening a title that gave nothing; leaving the mode
// cuts it short.
std::chrono::milliseconds reopen_delay = std::chrono::seconds(1);
std::mutex reopen_lock;
std::condition_variable reopen_wake;

// The reader thread's own: passes of the open title that accepted frames.
// One frame is always held back, so the title has handed a frame over to
// the writer only once a second pass has accepted one.
int title_passes_accepted = 0;
constexpr int passes_for_a_frame_handed_over = 2;

void wait_before_reopening() {
  std::unique_lock<std::mutex> hold(reopen_lock);
  reopen_wake.wait_for(hold, reopen_delay, [] { return pipeline_ending.load(); });
}

// The writer hands frames on in bursts. A thread that waits sleeps and has
// to be woken, and that costs more than all else a frame takes; the
// semaphores' strict alternation wakes one thread or the other twice a
// frame, but the wait for the pipe to drain comes only once a burst. The
// first frame of a burst goes into the drained pipe at once, so that the
// decoder never waits for the rest; the next ones gather in the stream
// buffer and go on in one write when the frame after them starts the next
// burst. While the writer waits, the stream buffer holds nothing and the
// pipe at most one burst: with the frame in hand, the one held back and the
// one the decoder plays that is 8 frames, 0.21 s at 128 kbit/s, and every
// key is heard within 0.3 s. The stream buffer is one pipe page (see
// frame_pipe.cpp), so that a burst always fits the drained pipe.
constexpr int frames_per_burst = 5;
int frames_in_burst = 0;  // the writer's: frames its stream buffers now

int next_slot(int index) { return index == ring_slots - 1 ? 0 : index + 1; }

// Waits for a post; false once the pipeline is being ended.
bool wait_for(sem_t *semaphore) {
  while (sem_wait(semaphore) != 0 && errno == EINTR) {
    if (pipeline_ending) return false;
  }
  return !pipeline_ending;
}

// The frame pipe holds one page, the least the kernel allows, but it takes
// new bytes for as long as the page has room at its end, so a writer left
// to block only when it is full keeps up to a page queued for the decoder:
// a quarter of a second at 128 kbit/s. A burst is therefore written only
// into a drained pipe; a one-page pipe is writable only when empty.
void wait_until_pipe_drained() {
  pollfd drained{fileno(write_f), POLLOUT, 0};
  while (poll(&drained, 1, -1) < 0 && errno == EINTR && !pipeline_ending) {
  }
}

// Whether `length` more bytes start a new burst; on an unbuffered stream
// every frame does.
bool starts_burst(int length) {
  return frames_in_burst >= frames_per_burst ||
         __fpending(write_f) + static_cast<std::size_t>(length) > __fbufsize(write_f);
}

void open_step(frame_reader &reader) {
  const std::lock_guard<std::mutex> hold(position_lock);
  if (close_input != input_requested) return;
  if (!reader_open(reader, file_name)) end_mode_process(-1);
  title_passes_accepted = 0;
  // buffer_stat stays as it is: a frame may still be waiting for the writer.
  close_input = input_current;
}

// The title ended: give the slot back and select the next title, which the
// pass that this thread posts for itself opens at once.
void end_of_title(frame_reader &reader) {
  read_buffer = read_buffer - 1;
  std::fputs(text_end_of_file, stdout);
  reader_close(reader);
  buffer_stat = ring_free;
  bool same_title_again = false;
  {
    const std::lock_guard<std::mutex> hold(position_lock);
    const std::string ended = file_name;
    ++cur_title;
    open_file(cur_interpret, cur_album, cur_title);
    same_title_again = ended == file_name;
  }
  if (same_title_again && title_passes_accepted < passes_for_a_frame_handed_over) {
    wait_before_reopening();
  }
  sem_post(readS);
}

void reader_pass(frame_reader &reader) {
  open_step(reader);
  if (close_input != input_current || buffer_stat != ring_free) {
    std::fputs(text_problem, stdout);
    return;
  }
  const int slot = next_slot(read_buffer);
  read_buffer = slot;
  buffer_stat = reader_filling;
  reader_prepare_pass(reader, player_status);
  if (reader_read_frames(reader, buffer[slot], frame_size[slot]) == frame_outcome::end_of_title) {
    end_of_title(reader);
    reader_warn_frame_size(reader);
  } else {
    ++title_passes_accepted;
  }
  // Forward and rewind last one pass; a key pressed meanwhile is kept.
  int jump = status_forward;
  if (!player_status.compare_exchange_strong(jump, status_playing)) {
    jump = status_rewind;
    player_status.compare_exchange_strong(jump, status_playing);
  }
  if (buffer_stat == ring_free) return;
  buffer_stat = frame_ready;
  sem_post(writeS);
}

// Moves the writer onto the pipe of a decoder that replaced the one before;
// the burst the old stream held went with it.
void switch_to_decoder_pipe(int write_end) {
  adopt_decoder_pipe(write_end);
  frames_in_burst = 0;
}

// Writes the burst the stream buffers into the drained pipe and lets the
// pipe drain again. A burst whose decoder ended under it is dropped with
// the stream: it was meant for the decoder that is gone.
void hand_on_burst() {
  errno = 0;
  bool written = std::fflush(write_f) == 0;
  while (!written && errno == EPIPE && !pipeline_ending) {
    const int write_end = await_decoder_pipe();
    if (write_end < 0) break;
    switch_to_decoder_pipe(write_end);
    errno = 0;
    written = std::fflush(write_f) == 0;
  }
  if (!written && !pipeline_ending) std::fputs(text_write_failed, stdout);
  frames_in_burst = 0;
  if (!pipeline_ending) wait_until_pipe_drained();
}

// Puts a frame into the stream; `at_once` passes it on to the pipe as well.
int put_frame(const unsigned char *frame, int length, bool at_once) {
  errno = 0;
  const int written = static_cast<int>(std::fwrite(frame, 1, length, write_f));
  if (at_once && written == length && std::fflush(write_f) != 0) return 0;
  return written;
}

// Writes one frame; a frame whose decoder ended under it goes whole to the
// decoder that replaces it. The first frame of a burst goes to the drained
// pipe at once: the decoder then never waits for the rest of the burst.
int send_frame(const unsigned char *frame, int length) {
  if (const int write_end = take_decoder_pipe(); write_end >= 0) switch_to_decoder_pipe(write_end);
  const bool first_of_burst = starts_burst(length);
  if (first_of_burst) hand_on_burst();
  int written = put_frame(frame, length, first_of_burst);
  while (written != length && errno == EPIPE && !pipeline_ending) {
    const int write_end = await_decoder_pipe();
    if (write_end < 0) break;
    switch_to_decoder_pipe(write_end);
    written = put_frame(frame, length, first_of_burst);
  }
  ++frames_in_burst;
  return written;
}

void write_slot() {
  const int slot = next_slot(write_buffer);
  write_buffer = slot;
  buffer_stat = writer_writing;
  const int held_back = read_buffer;
  if (held_back >= 0 && !mpeg_frame_valid(buffer[held_back])) {
    std::fputs(text_not_a_frame, stdout);
  }
  const int length = *frame_size[slot];
  if (pipeline_ending) return;
  const int written = send_frame(buffer[slot], length);
  if (pipeline_ending) return;
  if (written != length) {
    if (written > 0) {
      std::printf(text_partial_write, written, length);
    } else {
      std::fputs(text_write_failed, stdout);
    }
  }
  buffer_stat = ring_free;
  if (player_status != status_stopped) sem_post(readS);
}

void ignore_signal(int) {}

}  // namespace

void *read_func(void *) {
  std::fputs(text_reader_started, stdout);
  frame_reader reader;
  while (wait_for(readS)) reader_pass(reader);
  reader_close(reader);
  return nullptr;
}

void *write_func(void *) {
  std::fputs(text_writer_started, stdout);
  while (wait_for(writeS)) {
    if (buffer_stat != frame_ready && write_buffer == read_buffer) {
      std::fputs(text_nothing_to_write, stdout);
      continue;
    }
    if (player_status == status_paused && !wait_for(pauseS)) break;
    write_slot();
  }
  writer_finished = true;
  return nullptr;
}

bool start_pipeline(pthread_t &read_th, pthread_t &write_th) {
  signal(SIGPIPE, SIG_IGN);
  struct sigaction wake = {};
  wake.sa_handler = ignore_signal;  // no SA_RESTART: a blocked write returns
  sigemptyset(&wake.sa_mask);
  sigaction(wake_writer_signal, &wake, nullptr);
  pipeline_ending = false;
  writer_finished = false;
  frames_in_burst = 0;
  std::fputs(text_create_reader, stdout);
  if (pthread_create(&read_th, nullptr, read_func, nullptr) != 0) return false;
  std::fputs(text_create_writer, stdout);
  return pthread_create(&write_th, nullptr, write_func, nullptr) == 0;
}

void set_reopen_delay(std::chrono::milliseconds delay) {
  const std::lock_guard<std::mutex> hold(reopen_lock);
  reopen_delay = delay;
}

void stop_reader(pthread_t reader) {
  {
    const std::lock_guard<std::mutex> hold(reopen_lock);
    pipeline_ending = true;
  }
  reopen_wake.notify_all();
  sem_post(readS);
  pthread_join(reader, nullptr);
}

void stop_writer(pthread_t writer) {
  pipeline_ending = true;
  stop_waiting_for_decoder();
  sem_post(writeS);
  sem_post(pauseS);
  // The writer may sit in a write that the decoder never drains: interrupt
  // it, and again, until it has seen that the pipeline is ending.
  while (!writer_finished) {
    pthread_kill(writer, wake_writer_signal);
    usleep(10000);
  }
  pthread_join(writer, nullptr);
}
