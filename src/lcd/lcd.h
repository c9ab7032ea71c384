// The HD44780 display on the parallel port, driven from user space.
//
// Pin map (control register = base + 2; the port inverts bits 0, 1 and 3):
//   bit 0  nStrobe   (pin 1)  -> R/W   bit set: write (pin low)
//   bit 1  nAutoFeed (pin 14) -> not connected, always clear
//   bit 2  nInit     (pin 16) -> E     bit set: E high
//   bit 3  nSelectIn (pin 17) -> RS    bit set: instruction register (pin low)
//   bits 6,7 always set; bit 4 (interrupt enable) and 5 (direction) clear.
// Data register = base: D0-D7.
//
// Every operation is one sequence of port writes and fixed busy-waits; one
// mutex is held around each whole operation, so that the MP3 mode's key loop
// and reader thread never interleave their sequences.
#pragma once

void lcd_init(unsigned int addr);
void lcd_clear(unsigned int addr);
void lcd_set_string(unsigned int addr, const char *string, unsigned int line);
void lcd_set_char(unsigned int addr, unsigned char charakter, unsigned int position);
void lcd_cg(unsigned int addr, unsigned int position);
void lcd_shift_left(unsigned int addr);
void lcd_shift_right(unsigned int addr);
void lcd_return(unsigned long addr);
int lcd_busy(unsigned int addr);
int lcd_wait(unsigned int addr);
