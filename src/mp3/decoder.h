// The decoder process: the external decoder executed as a child of the MP3
// mode, reading whole MPEG frames from the frame pipe on its standard input.
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

void init_mpg_thread(void *ptr);

// Ends the decoder: SIGTERM, and SIGKILL when it is still there a second
// later (a decoder stuck in its audio output ignores SIGTERM); then reaps it.
// Does nothing when no decoder runs. Safe from any thread.
void end_decoder();
// The two halves of end_decoder, for a caller that reports in between.
void signal_decoder_to_end();
void await_decoder_end();

// Ends the MP3-mode process on an error it cannot go on from, decoder first.
[[noreturn]] void end_mode_process(int status);
