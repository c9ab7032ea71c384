// The two character ROMs as tables of what they show. Only glyphs that are
// the character itself are listed: A00's ¥ at 0x5C is not a backslash and
// its → at 0x7E is not a tilde, so `\` and `~` are not in A00; its 0xDF (the
// semi-voiced mark, a small circle at the top) is the degree sign, its mu
// the micro sign and its half-width middle dot the middle dot. A02's
// 0xA8, 0xB4 and 0xB8 do not hold Latin-1's spacing marks, and its 0xAC to
// 0xAF are not taken: what is not listed is drawn or stood in for.
#include "lcd/character_rom.h"

#include <algorithm>
#include <iterator>

namespace lcd_rom {

namespace {

constexpr code_range a00_ranges[] = {
    {U' ', U'[', 0x20},   {U']', U'}', 0x5D},   {U'¢', U'¢', 0xEC},
    {U'£', U'£', 0xED},   {U'¥', U'¥', 0x5C},   {U'°', U'°', 0xDF},
    {U'µ', U'µ', 0xE4},   {U'·', U'·', 0xA5},   {U'ä', U'ä', 0xE1},
    {U'ñ', U'ñ', 0xEE},   {U'ö', U'ö', 0xEF},   {U'÷', U'÷', 0xFD},
    {U'ü', U'ü', 0xF5},   {U'Σ', U'Σ', 0xF6},   {U'Ω', U'Ω', 0xF4},
    {U'α', U'α', 0xE0},   {U'β', U'β', 0xE2},   {U'ε', U'ε', 0xE3},
    {U'θ', U'θ', 0xF2},   {U'μ', U'μ', 0xE4},   {U'π', U'π', 0xF7},
    {U'ρ', U'ρ', 0xE6},   {U'σ', U'σ', 0xE5},   {U'←', U'←', 0x7F},
    {U'→', U'→', 0x7E},   {U'√', U'√', 0xE8},   {U'∞', U'∞', 0xF3},
    {U'█', U'█', 0xFF},   {U'万', U'万', 0xFB}, {U'円', U'円', 0xFC},
    {U'千', U'千', 0xFA}, {U'｡', U'ﾟ', 0xA1},  // half-width katakana and signs, in JIS X 0201 order
};

constexpr code_range a02_ranges[] = {
    {U' ', U'~', 0x20}, {U'¡', U'§', 0xA1}, {U'©', U'«', 0xA9},
    {U'°', U'³', 0xB0}, {U'µ', U'·', 0xB5}, {U'¹', U'ÿ', 0xB9},
};

}  // namespace

const character_rom a00{a00_ranges};
const character_rom a02{a02_ranges};

const character_rom &built_in() {
#if defined(DISCBOX_LCD_ROM_A02)
  return a02;
#else
  return a00;
#endif
}

std::optional<unsigned char> code_of(const character_rom &rom, char32_t character) {
  const auto after = std::upper_bound(
      rom.ranges.begin(), rom.ranges.end(), character,
      [](char32_t wanted, const code_range &range) { return wanted < range.first; });
  if (after == rom.ranges.begin()) return std::nullopt;
  const code_range &range = *std::prev(after);
  if (character > range.last) return std::nullopt;
  return static_cast<unsigned char>(range.code + (character - range.first));
}

}  // namespace lcd_rom
