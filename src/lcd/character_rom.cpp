// The two character ROMs as tables of what they show. Only glyphs that are
// the character itself are listed: A00's ¥ at 0x5C is not a backslash and
// its → at 0x7E is not a tilde, so `\` and `~` are not in A00; its 0xDF (the
// semi-voiced mark, a small circle at the top) is the degree sign, its mu
// the micro sign and its half-width middle dot the middle dot. A02 holds
// Latin-1 at its own codes but for a few: 0xA0, 0xA8, 0xAC-0xAD, 0xAF,
// 0xB4 and 0xB8 hold other signs (ƒ, Ю, Я, ₧, ω), not Latin-1's spacing
// marks, and 0xD8 is Φ, not Ø, which is drawn there instead. Its arrows,
// quotes, Greek and Cyrillic letters are taken where a name has them; what
// is not listed is drawn or stood in for.
#include "lcd/character_rom.h"

#include <algorithm>
#include <atomic>
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
    {U' ', U'~', 0x20}, {U'¡', U'§', 0xA1}, {U'©', U'«', 0xA9}, {U'®', U'®', 0xAE},
    {U'°', U'³', 0xB0}, {U'µ', U'·', 0xB5}, {U'¹', U'×', 0xB9}, {U'Ù', U'ÿ', 0xD9},
    {U'ƒ', U'ƒ', 0xA8}, {U'Γ', U'Γ', 0x92}, {U'Θ', U'Θ', 0x99}, {U'Σ', U'Σ', 0x94},
    {U'Φ', U'Φ', 0xD8}, {U'Ω', U'Ω', 0x9A}, {U'α', U'α', 0x90}, {U'δ', U'δ', 0x9B},
    {U'ε', U'ε', 0x9E}, {U'μ', U'μ', 0xB5}, {U'π', U'π', 0x93}, {U'σ', U'σ', 0x95},
    {U'τ', U'τ', 0x97}, {U'ω', U'ω', 0xB8}, {U'Б', U'Б', 0x80}, {U'Д', U'Д', 0x81},
    {U'Ж', U'Й', 0x82}, {U'Л', U'Л', 0x86}, {U'П', U'П', 0x87}, {U'У', U'У', 0x88},
    {U'Ц', U'Ы', 0x89}, {U'Э', U'Э', 0x8F}, {U'Ю', U'Я', 0xAC}, {U'“', U'“', 0x12},
    {U'”', U'”', 0x13}, {U'₧', U'₧', 0xB4}, {U'←', U'←', 0x1B}, {U'↑', U'↑', 0x18},
    {U'→', U'→', 0x1A}, {U'↓', U'↓', 0x19}, {U'↵', U'↵', 0x17}, {U'∞', U'∞', 0x9C},
    {U'∩', U'∩', 0x9F}, {U'≤', U'≥', 0x1C}, {U'⌂', U'⌂', 0x7F}, {U'⏫', U'⏬', 0x14},
    {U'▲', U'▲', 0x1E}, {U'▶', U'▶', 0x10}, {U'▼', U'▼', 0x1F}, {U'◀', U'◀', 0x11},
    {U'●', U'●', 0x16}, {U'♥', U'♥', 0x9D}, {U'♪', U'♪', 0x91}, {U'♬', U'♬', 0x96},
};

// Set once at start, before any other thread runs; read by every thread
// and child after.
std::atomic<const character_rom *> chosen{nullptr};

}  // namespace

const character_rom a00{"A00", a00_ranges};
const character_rom a02{"A02", a02_ranges};

const character_rom &built_in() {
#if defined(DISCBOX_LCD_ROM_A02)
  return a02;
#else
  return a00;
#endif
}

const character_rom *named(std::string_view name) {
  for (const character_rom *rom : {&a00, &a02}) {
    if (name == rom->name) return rom;
  }
  return nullptr;
}

const character_rom &module() {
  const character_rom *rom = chosen.load(std::memory_order_relaxed);
  return rom != nullptr ? *rom : built_in();
}

void choose_module(const character_rom &rom) { chosen.store(&rom, std::memory_order_relaxed); }

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
