// The decoder process: the external decoder executed as a child of the MP3
// mode, reading whole MPEG frames from the frame pipe on its standard input.
// A decoder that ends while the mode runs is reaped and replaced; each one
// gets a frame pipe of its own, whose read end only it holds, so that the
// writer's writes fail at once when it is gone instead of filling a pipe
// nobody drains.
#pragma once

#include <sys/types.h>

// The decoder's process id as the MP3-mode process knows it; 0 until started
// and again once it has been ended and reaped. Once the pipeline threads run,
// read it through decoder_pid().
extern pid_t mpg_pid_p;
pid_t decoder_pid();

// The decoder's buffer in kilobytes: its "-b" argument, also reported when
// the mode starts.
inline constexpr char decoder_buffer_kilobytes[] = "2048";

// Starts the decoder on pipe_data[0], which then belongs to the decoder
// alone (pipe_data[0] becomes -1), and the watch that replaces it when it
// ends.
void init_mpg_thread(void *ptr);

// For the writer: the write end of a pipe to a decoder that replaced the
// one before it, not yet taken; -1 when there is none. The caller owns it.
int take_decoder_pipe();
// For the writer, after its pipe broke: waits until a replacement decoder
// has started and returns its pipe's write end (the caller owns it); -1 once
// the decoder is being ended or stop_waiting_for_decoder was called.
int await_decoder_pipe();
void stop_waiting_for_decoder();

// Ends the decoder: SIGTERM, and SIGKILL when it is still there a second
// later (a decoder stuck in its audio output ignores SIGTERM); then reaps it.
// No decoder is started after this. Does nothing when no decoder runs. Safe
// from any thread.
void end_decoder();
// No decoder is started after this, and one that ends is no longer reported:
// leaving the mode closes the frame pipe before it ends the decoder, and a
// decoder that ends at the end of its input then is no failure.
void stop_replacing_decoder();
// The two halves of end_decoder, for a caller that reports in between.
void signal_decoder_to_end();
void await_decoder_end();

// Ends the MP3-mode process on an error it cannot go on from: the one way
// out for every such error of the mode, from any of its threads. The
// decoder ends first, then stdout is flushed and the process ends at once
// with `status`. Not to be called with decoder_lock held.
[[noreturn]] void end_mode_process(int status);
