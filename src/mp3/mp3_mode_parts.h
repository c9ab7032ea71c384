// The pieces of the MP3 mode that its set-up hands on to the key loop and to
// the leave sequence. Shared by the mode's own source files only.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <string>

// A line of the stopped screen: 40 columns and the terminating NUL.
inline constexpr int stopped_line_bytes = 41;

struct mp3_session {
  std::FILE *keys = nullptr;  // unbuffered, on a duplicate of the key channel
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

// Prints `string` as a format with `output` as its one argument.
void print_screen(const char *string, const char *output);

[[noreturn]] void run_key_loop(mp3_session &session);

// The scan's watch (scan_options): takes the keys typed so far off the key
// channel, at most every tenth of a second. X leaves the mode at once; any
// other key waits for the key loop.
void take_keys_during_scan(void *session);

// Ends the threads, the frame pipe and the decoder, as far as they exist
// yet (X during the scan comes before any of them), frees the ring and ends
// the MP3-mode process with status 0.
[[noreturn]] void leave_mp3_mode(mp3_session &session);
