// What the MP3 mode's set-up hands on to its key loop and its leave
// sequence: the key stream, the pipeline threads, the keys typed during the
// scan and the stopped screen. Shared by the mode's own source files only.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "util/unique_handle.h"

// A line of the stopped screen: 40 columns and the terminating NUL.
inline constexpr int stopped_line_bytes = 41;

struct mp3_session {
  util::unique_file keys;  // unbuffered, on a duplicate of the key channel
  pthread_t read_th{};
  pthread_t write_th{};
  bool pipeline_started = false;
  // Keys typed during the scan, for the key loop in the order typed.
  std::string early_keys;
  std::size_t early_keys_taken = 0;
  std::int64_t last_key_look_ns = 0;
  char stopped_1[stopped_line_bytes] = {};
  char stopped_2[stopped_line_bytes] = {};
};
