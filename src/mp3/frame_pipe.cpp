// Making frame pipes and the writer's stream on them.
#include "mp3/frame_pipe.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <utility>

bool make_frame_pipe(frame_pipe_ends &ends) {
  int pair[2];
  if (pipe2(pair, O_CLOEXEC) != 0) return false;
  ends.read_end.reset(pair[0]);
  ends.write_end.reset(pair[1]);
  // The decoder's pace is the only pacing of the pipeline, so whatever the
  // pipe holds is still heard after a pause, a stop or a change of title.
  // One page is the least a pipe can hold (today's default would be four
  // seconds at 128 kbit/s); the writer also waits for it to drain before it
  // writes again, so a replacement decoder's pipe must be sized the same.
  fcntl(pair[1], F_SETPIPE_SZ, static_cast<int>(sysconf(_SC_PAGESIZE)));
  return true;
}

bool frame_stream::open(util::unique_fd write_end) {
  std::FILE *stream = fdopen(write_end.get(), "w");
  if (stream == nullptr) return false;
  write_end.release();  // the stream closes it from now on
  if (mode_ == buffering::unbuffered) {
    setvbuf(stream, nullptr, _IONBF, 0);
  } else {
    setvbuf(stream, buffers_[free_buffer_], _IOFBF, buffer_bytes);
    free_buffer_ ^= 1;
  }
  close();
  stream_ = stream;
  return true;
}

void frame_stream::close() {
  if (stream_ == nullptr) return;
  __fpurge(stream_);
  std::fclose(std::exchange(stream_, nullptr));
}
