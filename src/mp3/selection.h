// Title selection: an artist / album / title position (1-based) becomes the
// path of one title in file_name, shown on the display, and the reader is
// told to (re)open it. Runs under one lock: the key loop and the reader
// thread both select.
#pragma once

void open_file(unsigned int interp, unsigned int alb, unsigned int titl);
