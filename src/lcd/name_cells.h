// Names as the display shows them. A name from a disc is bytes, mostly
// UTF-8; the display shows one character per cell, in its own code. This
// unit turns the two lines of a screen into the bytes the display driver
// writes, and the patterns the screen's drawn letters need:
//
// - a name is read as UTF-8; a byte that is not part of a valid sequence
//   is read as ISO 8859-1 (old discs), never dropped; a letter written as a
//   base letter and a combining mark is read as the one letter;
// - a character the module's ROM has is its ROM code;
// - another letter or sign with a pattern (letter_patterns.h) is drawn: the
//   pattern goes into one of the eight character-generator slots, and the
//   cell gets that slot's code. Both lines share the eight slots;
// - beyond eight drawn characters, or without a pattern, the nearest plain
//   letter stands in (plain_letters.h), and "?" for what has none.
//
// A line holds 40 cells; a character is never cut in half, so a stand-in
// of two cells that would not fit ends the line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "lcd/character_rom.h"
#include "lcd/letter_patterns.h"

namespace name_cells {

inline constexpr int line_cells = 40;
inline constexpr int pattern_slots = 8;
// The code of slot 0. The slots answer to 0x00-0x07 and again to
// 0x08-0x0F; 0x00 would end the text the display driver writes.
inline constexpr unsigned char first_slot_code = 0x08;

struct screen_cells {
  // Line 1 and line 2 in the display's code: at most line_cells bytes each,
  // never a zero byte.
  std::string lines[2];
  // Slot i holds patterns[i] and shows as first_slot_code + i.
  std::vector<letter_patterns::dot_pattern> patterns;
};

screen_cells screen_of(std::string_view line1, std::string_view line2,
                       const lcd_rom::character_rom &rom = lcd_rom::module());

}  // namespace name_cells
