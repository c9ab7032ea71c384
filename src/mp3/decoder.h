// The decoder process: the external decoder executed as a child of the MP3
// mode, reading whole MPEG frames from the frame pipe on its standard input.
#pragma once

#include <sys/types.h>

// The decoder's process id as the MP3-mode process knows it; 0 until started.
extern pid_t mpg_pid_p;

void init_mpg_thread(void *ptr);
