// Making and ending the frame pipeline, step by step; the reader's passes
// are in pipeline_reader.cpp, the writer's in pipeline_writer.cpp.
#include "mp3/pipeline.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "mp3/decoder.h"

namespace {

constexpr char text_semaphore_failed[] = "Problems during semaphore init.\n";
constexpr char text_create_reader[] = "Create read thread...\n";
constexpr char text_create_writer[] = "Create write thread...\n";

// Interrupts a writer blocked in a write that nobody drains.
constexpr int wake_writer_signal = SIGUSR1;
constexpr auto wake_writer_interval = std::chrono::milliseconds(10);

void ignore_signal(int) {}

}  // namespace

frame_pipeline::frame_pipeline(frame_stream::buffering buffering) : stream_(buffering) {
  for (int slot = 0; slot < ring_slots; ++slot) {
    buffer[slot] = slots_[slot];
    frame_size[slot] = &lengths_[slot];
  }
}

frame_pipeline::~frame_pipeline() {
  stop_reader();
  stop_writer();
  close_pipe();
  for (int i = 0; i < semaphore_count; ++i) {
    if (semaphore_ready_[i]) sem_destroy(&semaphores_[i]);
    semaphore_ready_[i] = false;
  }
  readS = writeS = pauseS = openS = nullptr;
  for (int slot = 0; slot < ring_slots; ++slot) {
    buffer[slot] = nullptr;
    frame_size[slot] = nullptr;
  }
}

bool frame_pipeline::open_pipe() {
  if (!make_frame_pipe(pipe_)) return false;
  pipe_data[0] = pipe_.read_end.get();
  pipe_data[1] = pipe_.write_end.get();
  return true;
}

void frame_pipeline::init_semaphores() {
  for (int i = 0; i < semaphore_count; ++i) {
    semaphore_ready_[i] = sem_init(&semaphores_[i], 0, 0) == 0;
    if (!semaphore_ready_[i]) std::fputs(text_semaphore_failed, stdout);
  }
  openS = &semaphores_[open_index];
  pauseS = pause_semaphore();
  readS = read_semaphore();
  writeS = write_semaphore();
}

bool frame_pipeline::open_stream() {
  if (!stream_.open(std::move(pipe_.write_end))) return false;
  write_f = stream_.get();
  return true;
}

util::unique_fd frame_pipeline::take_read_end() {
  pipe_data[0] = -1;
  return std::move(pipe_.read_end);
}

bool frame_pipeline::start(decoder_process *decoder) {
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
  write_f = nullptr;
  pipe_ = frame_pipe_ends{};
  pipe_data[0] = pipe_data[1] = -1;
}

// Waits for a post; false once the pipeline is being ended.
bool frame_pipeline::wait_for(sem_t *semaphore) {
  while (sem_wait(semaphore) != 0 && errno == EINTR) {
    if (ending_) return false;
  }
  return !ending_;
}
