// The frame pipe from the writer thread to the decoder: the mode's pipe in
// pipe_data and the writer's stream write_f on its write end. Every frame
// pipe (the mode's first one and each replacement decoder's) and every
// stream on one is made here, and the mode's pipe is closed here when the
// mode leaves.
#pragma once

#include <cstdio>

extern std::FILE *write_f;  // the writer's stream on pipe_data[1]

// Makes a frame pipe: both ends close-on-exec, holding one page. False when
// no pipe can be made.
bool make_frame_pipe(int ends[2]);

// The writer's stream on the write end of a frame pipe (made by
// make_frame_pipe); null when none can be made.
std::FILE *open_frame_stream(int write_end);

// The mode's first frame pipe, into pipe_data; false when none can be made.
bool open_frame_pipe();
// The writer's stream on pipe_data[1], into write_f; false when none can be
// made.
bool open_frame_writer();

// Moves the writer onto the pipe of a decoder that replaced the one before
// (its write end, which this takes over). What the old stream still buffers
// was meant for the decoder that is gone. When no stream can be made on the
// new pipe, the writer stays on the old one and the new end is closed.
void adopt_decoder_pipe(int write_end);

// Closes the writer's stream (dropping what it still buffers) and whatever
// end of the mode's pipe is still held here; only once the writer is gone.
void close_frame_pipe();
