// Making, switching and closing the frame pipe and the writer's stream on
// it, side by side.
#include "mp3/frame_pipe.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstddef>

#include "ctl/ctl.h"
#include "util/unique_fd.h"

std::FILE *write_f = nullptr;

namespace {

// The writer's stream buffer: one pipe page, so that the burst it gathers
// (see pipeline.cpp) always fits the drained pipe. What it and the pipe
// hold is still heard after a pause, a stop or a change of title; the
// writer lets the buffer fill only while the pipe drains, which keeps every
// key within 0.3 s. Two of them, so that a replacement stream can be set up
// before the one it replaces is closed.
constexpr std::size_t stream_buffer_bytes = 4096;
char stream_buffers[2][stream_buffer_bytes];
int free_stream_buffer = 0;

}  // namespace

bool make_frame_pipe(int ends[2]) {
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  // The decoder's pace is the only pacing of the pipeline, so whatever the
  // pipe holds is still heard after a pause, a stop or a change of title.
  // One page is the least a pipe can hold (today's default would be four
  // seconds at 128 kbit/s); the writer also waits for it to drain before it
  // writes again, so a replacement decoder's pipe must be sized the same.
  fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(sysconf(_SC_PAGESIZE)));
  return true;
}

std::FILE *open_frame_stream(int write_end) {
  std::FILE *stream = fdopen(write_end, "w");
  if (stream == nullptr) return nullptr;
  setvbuf(stream, stream_buffers[free_stream_buffer], _IOFBF, stream_buffer_bytes);
  free_stream_buffer ^= 1;
  return stream;
}

bool open_frame_pipe() { return make_frame_pipe(pipe_data); }

bool open_frame_writer() {
  write_f = open_frame_stream(pipe_data[1]);
  return write_f != nullptr;
}

void adopt_decoder_pipe(int write_end) {
  util::unique_fd end(write_end);
  std::FILE *stream = open_frame_stream(end.get());
  if (stream == nullptr) return;
  end.release();  // the stream closes it from now on
  __fpurge(write_f);
  std::fclose(write_f);
  write_f = stream;
  pipe_data[1] = write_end;
}

void close_frame_pipe() {
  if (write_f != nullptr) {
    // Frames still in the stream's buffer would only go to a decoder about
    // to be ended, and might block on a pipe that it no longer drains.
    __fpurge(write_f);
    std::fclose(write_f);  // closes pipe_data[1]
    write_f = nullptr;
  } else if (pipe_data[1] >= 0) {
    close(pipe_data[1]);
  }
  pipe_data[1] = -1;
  // The read end belongs to the decoder once it has started.
  if (pipe_data[0] >= 0) close(pipe_data[0]);
  pipe_data[0] = -1;
}
