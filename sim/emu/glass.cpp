// Reading cells off the glass, and drawing the slots for a person who
// wants to compare them with a real module's.
#include "emu/glass.h"

#include <algorithm>

namespace sim {

namespace {

constexpr unsigned char last_slot_code = 0x0F;
constexpr unsigned int slot_bits = 0x07;
constexpr int dots = 5;

dot_pattern slot_pattern(const character_generator_ram &generator_ram, unsigned int slot) {
  dot_pattern pattern;
  std::copy_n(generator_ram.begin() + slot * pattern_rows, pattern_rows, pattern.begin());
  return pattern;
}

}  // namespace

const char *glass_cell(unsigned char code, const character_generator_ram &generator_ram,
                       glass_rom rom) {
  if (code > last_slot_code) return rom == glass_rom::a02 ? a02_glyph(code) : a00_glyph(code);
  return drawn_letter(slot_pattern(generator_ram, code & slot_bits));
}

std::string pattern_drawing(const character_generator_ram &generator_ram) {
  std::string drawing;
  for (unsigned int slot = 0; slot < pattern_slots; ++slot) {
    // The number, a blank and the letter take one column each: five in all.
    drawing += std::to_string(slot) + " " + drawn_letter(slot_pattern(generator_ram, slot)) +
               (slot + 1 < pattern_slots ? "   " : "\n");
  }
  for (int row = 0; row < pattern_rows; ++row) {
    for (unsigned int slot = 0; slot < pattern_slots; ++slot) {
      const unsigned char bits = generator_ram[slot * pattern_rows + row];
      for (int dot = dots - 1; dot >= 0; --dot) drawing += (bits >> dot & 1) ? '#' : '.';
      drawing += slot + 1 < pattern_slots ? ' ' : '\n';
    }
  }
  return drawing;
}

}  // namespace sim
