// The MP3 mode's parts, in the order its set-up makes them, so that
// leaving ends them in reverse: the key stream first, so that no key is
// read after X; then the pipeline's threads, its stream, pipe and ring; the
// library position and the library; and the decoder last, which is made
// first (with no process yet) and started last, once the threads wait for
// frames. Shared by the mode's own source files only.
#pragma once

#include <cstdint>
#include <string>

#include "mp3/decoder.h"
#include "mp3/library.h"
#include "mp3/library_position.h"
#include "mp3/pipeline.h"
#include "util/unique_handle.h"

// A line of the stopped screen: 40 columns and the terminating NUL.
inline constexpr int stopped_line_bytes = 41;

struct mp3_session {
  decoder_process decoder;
  // The disc's library, scanned once by set-up: its root, named after the
  // mount point, owns the tree. Set-up's; read-only once the threads run.
  fs_entry root;
  library_position position;
  frame_pipeline pipeline{position};
  util::unique_file keys;  // the key loop's: unbuffered, on a duplicate of the key channel

  // The key loop's (and, before it, the scan's): keys typed during the scan,
  // for the key loop in the order typed.
  std::string early_keys;
  std::size_t early_keys_taken = 0;
  std::int64_t last_key_look_ns = 0;
  // Set-up's, then the key loop's to show.
  char stopped_1[stopped_line_bytes] = {};
  char stopped_2[stopped_line_bytes] = {};
};
