// The pieces of the MP3 mode that its set-up hands on to the key loop and to
// the leave sequence. Shared by the mode's own source files only.
#pragma once

#include <pthread.h>

#include <cstdio>

// A line of the stopped screen: 40 columns and the terminating NUL.
inline constexpr int stopped_line_bytes = 41;

struct mp3_session {
  std::FILE *keys = nullptr;  // unbuffered, on a duplicate of the key channel
  pthread_t read_th{};
  pthread_t write_th{};
  char stopped_1[stopped_line_bytes] = {};
  char stopped_2[stopped_line_bytes] = {};
};

// Prints `string` as a format with `output` as its one argument.
void print_screen(const char *string, const char *output);

[[noreturn]] void run_key_loop(mp3_session &session);

// Ends the threads, the frame pipe and the decoder, frees the ring and ends
// the MP3-mode process with status 0.
[[noreturn]] void leave_mp3_mode(mp3_session &session);
