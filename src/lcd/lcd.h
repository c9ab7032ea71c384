// The HD44780 display on the parallel port, driven from user space.
//
// Every operation takes the port base (888 on the player) and is one fixed
// sequence of port writes and busy-waits; the driver never reads the
// controller to pace itself. How the display's lines hang on the port is in
// lcd_wiring.h, the wait counts in lcd_timing.h.
//
// One mutex is held around each whole operation, so that the MP3 mode's key
// loop and reader thread never interleave their sequences. Call lcd_init()
// first in each process: it obtains the port access.
#pragma once

// The port base every caller passes: the display hangs on the first
// parallel port.
inline constexpr unsigned int lcd_port = 888;

void lcd_init(unsigned int addr);
void lcd_clear(unsigned int addr);
// Writes up to 40 characters from column 0 of line 1 (line 1) or line 2
// (any other line); the rest of the line keeps what it showed. A null
// string does nothing.
void lcd_set_string(unsigned int addr, const char *string, unsigned int line);
// Writes one character at display-memory address position (low 7 bits).
void lcd_set_char(unsigned int addr, unsigned char charakter, unsigned int position);
// Sets the character-generator memory address position (low 6 bits).
void lcd_cg(unsigned int addr, unsigned int position);
// Loads the 5x8 pattern `rows` (8 rows from the top, the low 5 bits of
// each) into character-generator slot `slot` (low 3 bits), which codes
// slot and slot + 8 then show. Leaves the address counter in the
// generator's memory: a text written next sets its display address first,
// as lcd_set_string does. A null `rows` does nothing.
void lcd_load_pattern(unsigned int addr, unsigned int slot, const unsigned char *rows);
void lcd_shift_left(unsigned int addr);
void lcd_shift_right(unsigned int addr);
void lcd_return(unsigned long addr);
// Bit 7 (0 or 0x80) of a byte read back from the data register.
int lcd_busy(unsigned int addr);
// Always 0; touches no port.
int lcd_wait(unsigned int addr);
