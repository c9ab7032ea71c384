// Title selection: an artist / album / title position (1-based) becomes the
// path of one title in the position's file_name, shown on the display, and
// the reader is told to (re)open it. The key loop and the reader thread both
// select, always under the position's lock.
#pragma once

#include "mp3/library_position.h"

void open_file(library_position &position, unsigned int interp, unsigned int alb,
               unsigned int titl);
