// The reader thread of the frame pipeline. Each pass prepares one frame; a
// frame accepted in a pass is written only after the next pass, so one
// frame is always held back. buffer_stat tells a pass started by a stray
// post (stop and start pressed while a write is still in hand) to give way
// instead of touching a slot the writer is using. A title that ends without
// having handed a single frame over and is selected again (the last title of
// an album repeats) is reopened only after a second: otherwise the reader
// would search it again and again at full speed.
#include <cstdio>
#include <mutex>
#include <string>

#include "mp3/frame_reader.h"
#include "mp3/mode_exit.h"
#include "mp3/pipeline.h"
#include "mp3/selection.h"

namespace {

constexpr char text_reader_started[] = "read thread started\n";
constexpr char text_problem[] = "PROBLEM\n";
constexpr char text_end_of_file[] = "at end of file, open next\n";

// One frame is always held back, so the title has handed a frame over to
// the writer only once a second pass has accepted one.
constexpr int passes_for_a_frame_handed_over = 2;

}  // namespace

void *frame_pipeline::read_func() {
  std::fputs(text_reader_started, stdout);
  frame_reader reader;
  while (wait_for(read_semaphore())) reader_pass(reader);
  reader_close(reader);
  return nullptr;
}

void frame_pipeline::wait_before_reopening() {
  std::unique_lock<std::mutex> hold(reopen_lock_);
  reopen_wake_.wait_for(hold, reopen_delay_, [this] { return ending_.load(); });
}

void frame_pipeline::open_step(frame_reader &reader) {
  const std::lock_guard<std::mutex> hold(position_lock);
  if (close_input != input_requested) return;
  if (!reader_open(reader, file_name)) end_mode_process(-1);
  title_passes_accepted_ = 0;
  // buffer_stat stays as it is: a frame may still be waiting for the writer.
  close_input = input_current;
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
    const std::lock_guard<std::mutex> hold(position_lock);
    const std::string ended = file_name;
    ++cur_title;
    open_file(cur_interpret, cur_album, cur_title);
    same_title_again = ended == file_name;
  }
  if (same_title_again && title_passes_accepted_ < passes_for_a_frame_handed_over) {
    wait_before_reopening();
  }
  sem_post(read_semaphore());
}

void frame_pipeline::reader_pass(frame_reader &reader) {
  open_step(reader);
  if (close_input != input_current || buffer_stat_ != ring_state::free) {
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
