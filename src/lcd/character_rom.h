// The display module's character ROM, as the characters it can show and
// their codes. HD44780 modules come with one of two ROMs that cannot be
// read back by software: A00 (Japanese: ASCII but for `\` and `~`, katakana,
// a few Greek letters and ä ö ü ñ) on most modules, A02 (Western European:
// ASCII and most of Latin-1) on some. The player is built for one of them
// (DISCBOX_LCD_ROM in the build); the player itself has no options.
#pragma once

#include <optional>
#include <span>

namespace lcd_rom {

// Code points first..last are the ROM codes code..code + (last - first).
struct code_range {
  char32_t first;
  char32_t last;
  unsigned char code;
};

struct character_rom {
  std::span<const code_range> ranges;  // ascending, not overlapping
};

extern const character_rom a00;
extern const character_rom a02;

// The ROM of the module the player was built for.
const character_rom &built_in();

// The code that shows `character` in `rom`, or none when the ROM lacks it.
std::optional<unsigned char> code_of(const character_rom &rom, char32_t character);

}  // namespace lcd_rom
