// The frame pipe between the writer thread and the decoder, and the
// writer's stream on its write end. The mode makes its first pipe at set-up;
// each replacement decoder gets a new one, whose read end only it holds, so
// that the writer's writes fail at once when it is gone instead of filling a
// pipe nobody drains.
#pragma once

#include <cstddef>
#include <cstdio>

#include "util/unique_fd.h"

struct frame_pipe_ends {
  util::unique_fd read_end;   // the decoder's standard input
  util::unique_fd write_end;  // the writer's, under its stream
};

// Makes a frame pipe: both ends close-on-exec, holding one page. False when
// no pipe can be made.
bool make_frame_pipe(frame_pipe_ends &ends);

// The writer's stream on the write end of a frame pipe. Closing it drops
// what it still buffers: that was meant for a decoder that is gone or about
// to be ended, and flushing it could block on a pipe nobody drains.
class frame_stream {
 public:
  enum class buffering {
    one_page,   // the mode's: frames gather into bursts (see pipeline.cpp)
    unbuffered  // every frame reaches the pipe as it is written
  };

  explicit frame_stream(buffering mode = buffering::one_page) : mode_(mode) {}
  ~frame_stream() { close(); }
  frame_stream(const frame_stream &) = delete;
  frame_stream &operator=(const frame_stream &) = delete;

  // Opens the stream on `write_end`, which it then owns, in place of the
  // one before. When no stream can be made, the one before stays, `write_end`
  // is closed, and the result is false.
  bool open(util::unique_fd write_end);
  void close();

  std::FILE *get() const { return stream_; }

 private:
  // The buffer is one pipe page, so that a burst always fits the drained
  // pipe. Two of them, so that a replacement stream can be set up before
  // the one it replaces is closed.
  static constexpr std::size_t buffer_bytes = 4096;

  buffering mode_;
  std::FILE *stream_ = nullptr;
  char buffers_[2][buffer_bytes] = {};
  int free_buffer_ = 0;
};
