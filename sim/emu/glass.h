// What a person sees on the glass of the emulated module: an HD44780 with
// the common character ROM, A00 (Japanese), or the Western European one,
// A02. A cell's code above 0x0F shows the module's ROM glyph, katakana and
// ¥ on A00, Φ and Cyrillic on A02, so that a name sent as the wrong bytes,
// or for the other ROM, looks as wrong here as on the box. Codes 0x00-0x0F show a
// slot of the character-generator RAM (the code's low three bits in 5x8
// mode), read back as the letter its pattern draws, or as ▒ for a pattern
// that draws none the emulator knows.
#pragma once

#include <array>
#include <string>

#include "emu/hd44780.h"

namespace sim {

inline constexpr int pattern_slots = generator_bytes / pattern_rows;
// Row 0 is the top; bit 4 of a row is its leftmost dot.
using dot_pattern = std::array<unsigned char, pattern_rows>;

inline constexpr char unknown_pattern[] = "▒";

// The module's character ROM, which the emulated machine is built with.
enum class glass_rom : unsigned char { a00, a02 };

// A00's glyph for `code` (0x10-0xFF) in UTF-8; its empty codes show blank.
const char *a00_glyph(unsigned char code);
// A02's glyph for `code` (0x10-0xFF) in UTF-8.
const char *a02_glyph(unsigned char code);

// The letter `pattern` draws (drawn_letters.cpp), or unknown_pattern.
const char *drawn_letter(const dot_pattern &pattern);

// The cell showing `code` on a module with `rom`, its slot's pattern taken
// from `generator_ram`.
const char *glass_cell(unsigned char code, const character_generator_ram &generator_ram,
                       glass_rom rom = glass_rom::a00);

// The eight slots side by side, each as its number and the letter it draws
// over its rows in '#' (dot on) and '.' (dot off): nine lines.
std::string pattern_drawing(const character_generator_ram &generator_ram);

}  // namespace sim
