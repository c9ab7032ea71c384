// The key channel: single key bytes from the terminal (standard input in raw
// mode), shared by both modes and by every MP3-mode child.
#pragma once

#include <termios.h>

#include <cstdio>

// The key channel: slot 1 is a duplicate of standard input, made at start-up
// by the control loop and open for the life of the program; slot 0 is never
// read. Both modes read it, and every MP3-mode child inherits it.
extern int pipe_keyboard[2];

// Opens an unbuffered read stream of the caller's own on the key channel.
// The stream sits on a duplicate of the channel's descriptor, so closing it
// leaves the channel open for the next mode; being unbuffered, it never
// takes keys meant for a later mode into a buffer that dies with it.
// Returns null when no stream can be opened.
std::FILE *open_key_stream();

// The next byte from `keys`, as fgetc gives it. At the end of the input (or
// on a read error) it waits one second before it returns, so that a caller
// that ignores such results and reads again never spins. A null stream
// (none could be opened) counts as one at its end.
int read_key(std::FILE *keys);

// Turns terminal settings into raw key input: every byte as typed, no echo,
// no signals from the keys; output post-processing stays on.
void make_raw_key_input(termios &settings);
