// Pointing the display-line globals at their buffers, and away again.
#include "mp3/display_lines.h"

display_lines::display_lines() {
  lcd_l1 = line_1_;
  lcd_l2 = line_2_;
}

display_lines::~display_lines() { lcd_l1 = lcd_l2 = nullptr; }
