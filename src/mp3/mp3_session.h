// The MP3 mode's parts, in the order its set-up makes them, so that
// leaving ends them in reverse: the key stream first, so that no key is
// read after X; then the pipeline's threads, its stream, pipe and ring; the
// display lines; and the decoder last, which is made first (with no
// process yet) and started last, once the threads wait for frames. The
// library sits between the pipeline's ring and the key stream and lives
// until the process ends. Shared by the mode's own source files only.
#pragma once

#include <cstdint>
#include <string>

#include "mp3/decoder.h"
#include "mp3/display_lines.h"
#include "mp3/pipeline.h"
#include "util/unique_handle.h"

// A line of the stopped screen: 40 columns and the terminating NUL.
inline constexpr int stopped_line_bytes = 41;

struct mp3_session {
  decoder_process decoder;
  display_lines lines;
  frame_pipeline pipeline;
  util::unique_file keys;  // unbuffered, on a duplicate of the key channel

  // Keys typed during the scan, for the key loop in the order typed.
  std::string early_keys;
  std::size_t early_keys_taken = 0;
  std::int64_t last_key_look_ns = 0;
  char stopped_1[stopped_line_bytes] = {};
  char stopped_2[stopped_line_bytes] = {};
};
