// The frame pipeline: the reader thread moves the current title frame by
// frame into the ring, the writer thread moves each frame into the pipe to
// the decoder, in strict alternation through the semaphores.
#pragma once

#include <cstdio>

extern std::FILE *write_f;  // the writer's stream on pipe_data[1]

void *read_func(void *ptr);
void *write_func(void *ptr);
