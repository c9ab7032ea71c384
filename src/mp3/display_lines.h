// The text of display lines 1 and 2 while the MP3 mode runs (lcd_l1,
// lcd_l2, lcd_line_bytes each): the scan writes its progress into line 2,
// the selection the names of the title into both, in the display's code
// (lcd/name_cells.h). Made and freed here only.
#pragma once

// Both lines, empty.
void make_display_lines();
// Frees both; only once nothing can select a title any more.
void free_display_lines();
