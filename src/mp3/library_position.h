// The library position: which title of the disc the MP3 mode has selected,
// its path, and the request to the reader to open it. The key loop, the
// selection and the reader thread share it; each gets it by reference. One
// lock guards it, and each field says who reads and writes it.
#pragma once

#include <atomic>
#include <mutex>

struct fs_entry;

inline constexpr int file_name_bytes = 1024;
inline constexpr int lcd_line_bytes = 80;

// Values of close_input: the selection's request to the reader.
inline constexpr int input_current = 0;    // the open title is the selected one
inline constexpr int input_requested = 1;  // a selection waits to be opened
inline constexpr int input_none_yet = 99;  // nothing selected since start-up

struct library_position {
  // Held around everything that reads or changes the position or
  // file_name: the key loop's handling of one key, the reader's open step
  // and its move to the next title. Selection (open_file) is always called
  // under it.
  std::mutex position_lock;
  // Taken by open_file itself around one selection, inside position_lock.
  std::mutex selection_lock;

  // The library the numbers count in; set by set-up before any thread
  // starts, read-only after.
  const fs_entry *root_fs = nullptr;

  // The current title, 1-based: written by the selection on acceptance and
  // by the key loop (copied back from the pending one); read by the key loop
  // and the reader. Under position_lock.
  unsigned int cur_interpret = 1, cur_album = 1, cur_title = 1;
  // The key loop's pending copy, which its keys move; the selection sets it
  // with the current one. Under position_lock.
  unsigned int cur_interpret_ = 1, cur_album_ = 1, cur_title_ = 1;

  // The selected title's path: written by the selection, read by the
  // reader's open step and its end of a title. Under position_lock.
  char file_name[file_name_bytes] = {};
  // The display lines showing the selected title: written by the selection
  // under position_lock, read by nobody else.
  char lcd_l1[lcd_line_bytes] = {};
  char lcd_l2[lcd_line_bytes] = {};

  // Set to input_requested by the selection and to input_current by the
  // reader's open step, both under position_lock; the reader's pass reads it
  // without the lock, hence atomic.
  std::atomic<int> close_input{input_none_yet};
};
