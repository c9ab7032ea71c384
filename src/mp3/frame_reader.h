// The reader's work on one title file: opening it at its first frame, and
// reading frames into a ring slot with the header rule, searching byte by
// byte past damaged data. It knows nothing of the ring's indices, the
// semaphores or the selection, so the same code runs in the reader thread
// and, synchronously, in a fuzz target.
#pragma once

#include <cstdint>
#include <cstdio>

#include "util/unique_handle.h"

// Where the frames read last began, newest last, so that a rewind lands on
// a frame start whatever the frames' lengths. It holds ten rewinds' worth, so
// that rewind pressed again and again keeps going back by whole frames.
struct frame_history {
  static constexpr int capacity = 300;
  long starts[capacity] = {};
  int newest = -1;  // index of the newest start
  int count = 0;
};

struct frame_reader {
  util::unique_file input_f;
  long first_frame = 0;  // file offset of the first frame, after any ID3v2 tag
  int frame_size_l = 0;  // the length the next frame is read with
  int numbers = 1;       // frames a pass reads: 1 playing, 30 forward
  int err_count = 0;     // one-byte search steps in this title so far
  int buffer_size = 0;   // bytes the last read into the slot returned
  long frames_read = 0;  // frames of this title before the next one to read
  frame_history history;
  std::uint8_t header[4] = {};
};

// Closes the open title, if any, and opens `path` at its first frame.
// Prints the console lines of an open; false when the title cannot be
// played at all (the MP3 mode then ends).
bool reader_open(frame_reader &reader, const char *path);

// The same for a title already open as `input` (at its start), which the
// reader then owns; `path` names it in the console lines.
bool reader_take_title(frame_reader &reader, std::FILE *input, const char *path);

void reader_close(frame_reader &reader);

// Acts on the playback status for one pass: forward reads 30 frames, rewind
// moves back to the start of the frame 30 frames before the next one (the
// title's first frame when fewer have been read), playing reads one frame.
void reader_prepare_pass(frame_reader &reader, int status);

enum class frame_outcome { accepted, end_of_title };

// Reads reader.numbers frames into `slot` (slot_bytes long), each over the
// one before. Accepted: the slot holds the last frame and *length_cell its
// length. End of title: the file holds no further whole frame; the "bytes
// red" line is printed.
frame_outcome reader_read_frames(frame_reader &reader, std::uint8_t *slot, int *length_cell);

// The warning for a frame length no slot can take, printed after an end of
// title that such a length caused.
void reader_warn_frame_size(const frame_reader &reader);
