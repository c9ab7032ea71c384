// Making and freeing the MP3 mode's display-line texts, side by side.
#include "mp3/display_lines.h"

#include <cstdlib>

#include "ctl/ctl.h"

void make_display_lines() {
  lcd_l1 = static_cast<char *>(std::calloc(lcd_line_bytes, 1));
  lcd_l2 = static_cast<char *>(std::calloc(lcd_line_bytes, 1));
}

void free_display_lines() {
  std::free(lcd_l1);
  std::free(lcd_l2);
  lcd_l1 = lcd_l2 = nullptr;
}
