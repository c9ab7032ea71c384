// The display module's character ROM, as the characters it can show and
// their codes. HD44780 modules come with one of two ROMs that cannot be
// read back by software: A00 (Japanese: ASCII but for `\` and `~`, katakana,
// a few Greek letters and ä ö ü ñ) on most modules, A02 (Western European:
// ASCII, most of Latin-1, some Greek and Cyrillic) on some. The build names
// a default (DISCBOX_LCD_ROM); the player takes the module's ROM at start
// (rom_setting.h), and names are made for that one.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace lcd_rom {

// Code points first..last are the ROM codes code..code + (last - first).
struct code_range {
  char32_t first;
  char32_t last;
  unsigned char code;
};

struct character_rom {
  const char *name;                    // "A00" or "A02", as the datasheet names it
  std::span<const code_range> ranges;  // ascending, not overlapping
};

extern const character_rom a00;
extern const character_rom a02;

// The ROM the player was built for: the default when nothing else is said.
const character_rom &built_in();

// The ROM `name` names ("A00" or "A02"), or null.
const character_rom *named(std::string_view name);

// The module's ROM: built_in() until the start-up chooses another.
const character_rom &module();
// Called once at start, before any thread or child process is made.
void choose_module(const character_rom &rom);

// The code that shows `character` in `rom`, or none when the ROM lacks it.
std::optional<unsigned char> code_of(const character_rom &rom, char32_t character);

}  // namespace lcd_rom
