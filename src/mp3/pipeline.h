// The frame pipeline: the reader thread moves the current title frame by
// frame into the ring, the writer thread moves each frame into the pipe to
// the decoder, in strict alternation through the semaphores.
#pragma once

#include <pthread.h>

#include <chrono>

void *read_func(void *ptr);
void *write_func(void *ptr);

// Starts the reader, then the writer, with the console line before each.
// Before that, a write into a pipe whose decoder is gone is made to fail
// instead of ending the process, and the signal that stop_writer uses to
// interrupt a blocked write is made harmless. False when a thread could not
// be started.
bool start_pipeline(pthread_t &read_th, pthread_t &write_th);

// Leaving the mode ends both threads for good, each after the frame in hand;
// a writer blocked in a write to a decoder that reads nothing is interrupted.
// Neither touches the ring once these return.
void stop_reader(pthread_t reader);
void stop_writer(pthread_t writer);

// How long the reader waits before it opens again a title that ended
// without yielding a frame (1 s); tests lengthen it to see the wait.
void set_reopen_delay(std::chrono::milliseconds delay);
