// The text of display lines 1 and 2 while the MP3 mode runs: the scan
// writes its progress into line 2, the selection the names of the title
// into both, in the display's code (lcd/name_cells.h). lcd_l1 and lcd_l2
// point here for as long as the object lives.
#pragma once

#include "ctl/ctl.h"

class display_lines {
 public:
  display_lines();
  ~display_lines();
  display_lines(const display_lines &) = delete;
  display_lines &operator=(const display_lines &) = delete;

 private:
  char line_1_[lcd_line_bytes] = {};
  char line_2_[lcd_line_bytes] = {};
};
