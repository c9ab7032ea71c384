// The MP3 mode's console lines that are formats: set-up, key loop and leave
// all print them the same way, so the one helper sits apart from all three.
#pragma once

#include <cstdio>

// Prints `string` as a format with `output` as its one argument.
inline void print_screen(const char *string, const char *output) { std::printf(string, output); }
