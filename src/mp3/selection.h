// Title selection: an artist / album / title position (1-based) becomes the
// path of one title in file_name, shown on the display, and the reader is
// told to (re)open it. Runs under one lock: the key loop and the reader
// thread both select.
#pragma once

#include <mutex>

// Held around everything that reads or changes the library position
// (cur_interpret, cur_album, cur_title and their pending copies) or
// file_name: the key loop's handling of one key, the reader's open step and
// its move to the next title. Selection is always called under it.
extern std::mutex position_lock;

void open_file(unsigned int interp, unsigned int alb, unsigned int titl);
