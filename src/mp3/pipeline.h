// The frame pipeline: the reader thread moves the current title frame by
// frame into a ring of slots, the writer thread moves each frame into the
// frame pipe to the decoder, in strict alternation through the semaphores.
// One object holds all of it: the ring, its semaphores and hand-over state,
// the playing status, the frame pipe and the writer's stream, and both
// threads. The MP3 mode makes it in steps (ring, pipe, semaphores, stream,
// threads) and ends it in reverse. The key loop steers it only through its
// methods; the reader finds the selected title in the library position.
#pragma once

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "mp3/frame_pipe.h"
#include "mp3/frame_ring.h"
#include "mp3/library_position.h"
#include "util/unique_fd.h"

class decoder_process;
struct frame_reader;

// Who has the ring (buffer_stat).
enum class ring_state : int {
  free = 0,            // no frame waits for the writer
  frame_ready = 1,     // the reader handed a frame over
  reader_filling = 2,  // the reader is filling a slot
  writer_writing = 4,  // the writer is writing a slot
};

// Every public method is called by the mode's main thread, which makes the
// pipeline, runs the key loop and leaves; the reader and the writer run the
// private part.
class frame_pipeline {
 public:
  // The ring: every slot zeroed (the first write sends slot 0, which no
  // pass has filled: nothing) and its length cell 0. The reader opens what
  // is selected in `position`, which outlives the pipeline.
  explicit frame_pipeline(library_position &position,
                          frame_stream::buffering buffering = frame_stream::buffering::one_page);
  // Ends whatever of it is still there, in reverse.
  ~frame_pipeline();
  frame_pipeline(const frame_pipeline &) = delete;
  frame_pipeline &operator=(const frame_pipeline &) = delete;

  // The frame pipe; false when none can be made.
  bool open_pipe();
  // The four semaphores, each at 0; a console line for one that cannot be
  // made.
  void init_semaphores();
  // The writer's stream on the pipe's write end; false when none can be
  // made.
  bool open_stream();
  // The pipe's read end, for the decoder or whoever reads in its place.
  util::unique_fd take_read_end();
  // Starts the reader, then the writer, with the console line before each.
  // A write into a pipe whose decoder is gone then fails instead of ending
  // the process, and goes to the pipe of the decoder that replaces it
  // (none without `decoder`). False when a thread could not be started.
  bool start_threads(decoder_process *decoder);

  // The keys' steering, each called by the key loop's thread (tests stand
  // in for it). N: from paused, resume(); from stopped, play and start the
  // reader, and true: the title is to be selected anew. Otherwise nothing.
  bool play();
  // B while playing, and leaving: the writer waits before its next frame.
  void pause();
  // B otherwise: playing, and the writer held by a pause goes on.
  void resume();
  // M: from playing or paused the reader and writer finish the frame in
  // hand and wait; a writer held by the pause is let go for that.
  void stop();
  // R and F: the reader's next pass reads 30 frames on or goes 30 back.
  void forward();
  void rewind();
  // A new selection, which the reader opens at its next pass; under the
  // position's lock.
  void select(unsigned int interp, unsigned int alb, unsigned int titl);
  int status() const { return player_status; }
  // One more pass of the reader, whatever the status: what a start posts.
  // The keys post it only through play(); tests make a stray pass with it.
  void post_read();

  // Each ends one thread for good, after the frame in hand; a writer
  // blocked in a write to a decoder that reads nothing is interrupted.
  void stop_reader();
  void stop_writer();
  // Closes the writer's stream (dropping what it still buffers) and what is
  // left of the pipe; only once the writer is gone.
  void close_pipe();

  bool threads_running() const { return reader_running_ || writer_running_; }
  ring_state hand_over() const { return buffer_stat_; }
  // How long the reader waits before it opens again a title that ended
  // without yielding a frame (1 s); tests lengthen it to see the wait.
  void set_reopen_delay(std::chrono::milliseconds delay);

 private:
  // A pass of the reader, and what it does at the start and end of a title.
  void *read_func();
  void reader_pass(frame_reader &reader);
  void open_step(frame_reader &reader);
  void end_of_title(frame_reader &reader);
  void wait_before_reopening();
  // The writer's part.
  void *write_func();
  void write_slot();
  int send_frame(const std::uint8_t *frame, int length);
  int put_frame(const std::uint8_t *frame, int length, bool at_once);
  void hand_on_burst();
  bool starts_burst(int length) const;
  void wait_until_pipe_drained();
  void switch_to_decoder_pipe(util::unique_fd write_end);
  bool move_to_replacement_decoder();
  // Both.
  bool await_post(sem_t *semaphore);
  sem_t *read_semaphore() { return &semaphores_[read_index]; }
  sem_t *write_semaphore() { return &semaphores_[write_index]; }
  sem_t *pause_semaphore() { return &semaphores_[pause_index]; }

  library_position &position_;  // the reader's under its lock; the key loop's too

  // Written by the key loop's steering and by leave; the reader sets
  // forward and rewind back to playing; both threads read it.
  std::atomic<int> player_status{status_playing};

  // The ring. From a post of readS to the following post of writeS only
  // the reader touches the slots, the cells and read_buffer; from that post
  // to the writer's next post of readS only the writer does.
  std::uint8_t slots_[ring_slots][slot_bytes] = {};
  int lengths_[ring_slots] = {};                           // frame_size
  std::atomic<int> read_buffer_{0};                        // reader's: slot claimed last
  std::atomic<int> write_buffer_{-1};                      // writer's: slot written last
  std::atomic<ring_state> buffer_stat_{ring_state::free};  // both, in turn

  // readS, writeS, pauseS, openS; posted and waited on by every thread.
  enum semaphore_index { open_index, pause_index, read_index, write_index, semaphore_count };
  sem_t semaphores_[semaphore_count] = {};
  bool semaphore_ready_[semaphore_count] = {};  // set-up's and leave's

  // The pipe: set-up's until the threads start; its read end goes to the
  // decoder, its write end under the stream.
  frame_pipe_ends pipe_;
  // The writer's once it runs; set-up and leave use it only while no writer
  // does.
  frame_stream stream_;
  // The writer's: frames its stream buffers now (see pipeline.cpp).
  int frames_in_burst_ = 0;
  decoder_process *decoder_ = nullptr;  // set before the threads start

  // The reader's: passes of the open title that accepted frames.
  int title_passes_accepted_ = 0;
  // The wait before reopening a title that gave nothing; leaving cuts it
  // short.
  std::mutex reopen_lock_;
  std::condition_variable reopen_wake_;
  std::chrono::milliseconds reopen_delay_ = std::chrono::seconds(1);  // under reopen_lock_

  // Ending: written by leave, read by both threads.
  std::atomic<bool> ending_{false};
  std::atomic<bool> writer_finished_{false};
  pthread_t reader_{}, writer_{};  // set-up's and leave's
  bool reader_running_ = false, writer_running_ = false;
};
