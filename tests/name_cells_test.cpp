// Names on the display as a person reads them: each screen the unit makes
// is read back through the emulated module's glass (ROM A00 or A02 and the
// emulator's own table of drawn letters), so a wrong ROM code, a pattern
// that draws another letter or a stand-in the ROM shows otherwise all read
// wrong here. The ROM itself is a setting the player reads at start.
#include "lcd/name_cells.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ctl/rom_setting.h"
#include "emu/glass.h"
#include "lcd/plain_letters.h"
#include "support/glass_text.h"
#include "support/stdout_tap.h"

namespace {

using name_cells::screen_cells;
using name_cells::screen_of;

struct shown_lines {
  std::string line1, line2;
  bool operator==(const shown_lines &) const = default;
};

std::ostream &operator<<(std::ostream &out, const shown_lines &shown) {
  return out << "|" << shown.line1 << "|" << shown.line2 << "|";
}

// The screen's lines as the glass of a module with `rom` shows them once
// its patterns are loaded.
shown_lines shown(const screen_cells &screen, sim::glass_rom rom = sim::glass_rom::a00) {
  sim::character_generator_ram generator{};
  for (std::size_t slot = 0; slot < screen.patterns.size(); ++slot) {
    for (int row = 0; row < sim::pattern_rows; ++row) {
      generator[slot * sim::pattern_rows + row] = screen.patterns[slot][row];
    }
  }
  shown_lines read;
  for (const char code : screen.lines[0]) read.line1 += sim::glass_cell(code, generator, rom);
  for (const char code : screen.lines[1]) read.line2 += sim::glass_cell(code, generator, rom);
  return read;
}

shown_lines shown(std::string_view line1, std::string_view line2 = "") {
  return shown(screen_of(line1, line2, lcd_rom::a00));
}

std::string utf8(char32_t c) {
  std::string text;
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | c >> 6);
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    text += static_cast<char>(0xE0 | c >> 12);
    text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | c >> 18);
    text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
  return text;
}

// German, Nordic, French, Polish and Spanish names read as written; ä ö ü ñ
// come from the ROM, the other letters are drawn.
TEST(NameCellsTest, EuropeanNamesReadAsWritten) {
  const struct {
    const char *line1, *line2;
    std::size_t drawn;
  } names[] = {
      {"Mötley Crüe -- Ärger in Åre", "01 Björk.mp3", 2},
      {"Weiße Straße -- Größe", "Über Äpfel.mp3", 3},
      {"Sigur Rós -- Ágætis byrjun", "Smørrebrød på Færøerne.mp3", 5},
      {"Françoise Hardy -- Déjà vu", "Noël à l'Hôtel.mp3", 5},
      {"Łódź -- Żółw", "Źdźbło.mp3", 6},
      {"Peña -- Mañana", "¿Qué pasó, señor?.mp3", 3},
  };
  for (const auto &name : names) {
    const screen_cells screen = screen_of(name.line1, name.line2, lcd_rom::a00);
    EXPECT_EQ(shown(screen), (shown_lines{name.line1, name.line2}));
    EXPECT_EQ(screen.patterns.size(), name.drawn) << name.line1;
  }
  EXPECT_EQ(shown("Sigur Rós – Hoppípolla"), (shown_lines{"Sigur Rós - Hoppípolla", ""}));
}

// ROM A00 has ¥ and → where ASCII has \ and ~: both are drawn.
TEST(NameCellsTest, BackslashAndTildeAreDrawnNotYenAndArrow) {
  const screen_cells screen = screen_of("AC\\DC", "06 Back\\Slash~Tilde.mp3", lcd_rom::a00);
  EXPECT_EQ(shown(screen), (shown_lines{"AC\\DC", "06 Back\\Slash~Tilde.mp3"}));
  EXPECT_EQ(screen.patterns.size(), 2u);
  for (const std::string &line : screen.lines) {
    EXPECT_EQ(line.find_first_of("\x5C\x7E"), std::string::npos) << line;
  }
}

TEST(NameCellsTest, WhatNoCellCanSayIsAQuestionMark) {
  EXPECT_EQ(shown("東京事変 -- 🎵 Живой", "α\x1b[2J\x7f.mp3"),
            (shown_lines{"???? -- ? ?????", "α?[2J?.mp3"}));
}

// Bytes that are no valid UTF-8 are ISO 8859-1, as old discs wrote names;
// a C1 control among them has no cell of its own.
TEST(NameCellsTest, InvalidUtf8IsReadAsLatin1AndNeverDropped) {
  EXPECT_EQ(shown("Caf\xE9 M\xFCller -- \xC3(", "\xE2\x82 \xF0\x9F\x8E \xC0\xAF.mp3"),
            (shown_lines{"Café Müller -- Ã(", "â? ð?? À-.mp3"}));
}

TEST(NameCellsTest, DecomposedLettersReadAsOneCell) {
  EXPECT_EQ(shown("Bjo\u0308rk -- Ame\u0301lie", "\u0301a x\u0301y.mp3"),
            (shown_lines{"Björk -- Amélie", "?a xy.mp3"}));
}

// Eight slots serve both lines: the first eight distinct drawn letters get
// them, a letter seen again keeps its slot, the rest stand in plainly.
TEST(NameCellsTest, BeyondEightDrawnLettersThePlainLetterStandsIn) {
  const screen_cells screen = screen_of("ÀÉÎÕÛ -- Ç", "ÈÊËÌ ÉÀ Ø.mp3", lcd_rom::a00);
  EXPECT_EQ(shown(screen), (shown_lines{"ÀÉÎÕÛ -- Ç", "ÈÊEI ÉÀ O.mp3"}));
  EXPECT_EQ(screen.patterns.size(), 8u);
  EXPECT_EQ(screen.lines[0][0], '\x08');
  EXPECT_EQ(screen.lines[1][0], '\x0E');
}

// A line is 40 cells whatever the bytes: a 40-letter name with umlauts
// fills it exactly, a longer one is cut after its 40th letter, and a
// two-cell stand-in is never cut in half.
TEST(NameCellsTest, ALineHoldsFortyCellsNotFortyBytes) {
  const std::string forty = "Über Äpfel und Öl: Grüße aus Düsseldorf.";
  ASSERT_EQ(cells_in(forty), 40u);
  ASSERT_GT(forty.size(), 40u);
  const screen_cells screen = screen_of(forty, forty + "mp3", lcd_rom::a00);
  EXPECT_EQ(shown(screen), (shown_lines{forty, forty}));
  EXPECT_EQ(screen.lines[0].size(), 40u);

  const std::string thirty_nine = forty.substr(0, forty.size() - 1);
  EXPECT_EQ(shown(thirty_nine + "ẞ"), (shown_lines{thirty_nine, ""}));
  const std::string thirty_eight = thirty_nine.substr(std::string("Ü").size());
  EXPECT_EQ(shown(thirty_eight + "ẞ"), (shown_lines{thirty_eight + "SS", ""}));
}

// Every character of the Latin, Greek and Cyrillic blocks, the common signs
// and arrows and the half-width katakana, alone on a line, shows as itself,
// its stand-in or "?" on a module of either ROM: never as another ROM glyph
// (A02's Φ for Ø) or an unknown pattern.
TEST(NameCellsTest, EveryCharacterShowsAsItselfItsStandInOrAQuestionMark) {
  std::vector<char32_t> characters;
  for (char32_t c = 0x20; c < 0x250; ++c) characters.push_back(c);
  for (char32_t c = 0x370; c < 0x460; ++c) characters.push_back(c);
  for (char32_t c = 0x1EA0; c < 0x1EFA; ++c) characters.push_back(c);
  for (char32_t c = 0x2000; c < 0x2400; ++c) characters.push_back(c);
  for (char32_t c = 0x25A0; c < 0x2700; ++c) characters.push_back(c);
  for (char32_t c = 0xFF61; c < 0xFFA0; ++c) characters.push_back(c);
  // One glyph of the ROM stands for two characters.
  const std::pair<char32_t, const char *> same_glyph[] = {{U'μ', "µ"}, {U'･', "·"}, {U'ﾟ', "°"}};
  const std::pair<const lcd_rom::character_rom &, sim::glass_rom> modules[] = {
      {lcd_rom::a00, sim::glass_rom::a00}, {lcd_rom::a02, sim::glass_rom::a02}};
  for (const auto &[rom, glass] : modules) {
    for (const char32_t c : characters) {
      const screen_cells screen = screen_of(utf8(c), "", rom);
      std::string expected = utf8(c);
      if (!lcd_rom::code_of(rom, c) && !letter_patterns::pattern_of(c)) {
        const char *plain = plain_letters::plain_of(c);
        expected = plain != nullptr ? plain : "?";
      }
      for (const auto &[character, glyph] : same_glyph) {
        if (c == character && lcd_rom::code_of(rom, c)) expected = glyph;
      }
      EXPECT_EQ(shown(screen, glass).line1, expected)
          << rom.name << " U+" << std::hex << std::uint32_t{c};
    }
  }
}

// A module with ROM A02 carries Latin-1 at its own codes: only letters
// beyond it are drawn, and `\` and `~` are plain ASCII there. Its 0xD8 is
// Φ, so Ø is drawn; ® is its own 0xAE.
TEST(NameCellsTest, A02ModulesShowLatin1FromTheRom) {
  const screen_cells norwegian = screen_of("Øystein Sevåg -- Ørnulf®", "Café ø.mp3", lcd_rom::a02);
  EXPECT_EQ(shown(norwegian, sim::glass_rom::a02),
            (shown_lines{"Øystein Sevåg -- Ørnulf®", "Café ø.mp3"}));
  EXPECT_EQ(norwegian.lines[0].substr(0, 3), "\x08ys");
  EXPECT_EQ(norwegian.lines[0].back(), '\xAE');
  EXPECT_EQ(norwegian.lines[1], "Caf\xE9 \xF8.mp3");
  ASSERT_EQ(norwegian.patterns.size(), 1u);
  EXPECT_EQ(norwegian.patterns[0], *letter_patterns::pattern_of(U'Ø'));

  const screen_cells screen = screen_of("Mötley Crüe -- Ärger in Åre", "Łódź \\~", lcd_rom::a02);
  EXPECT_EQ(screen.lines[0],
            "M\xF6tley Cr\xFC"
            "e -- \xC4rger in \xC5re");
  EXPECT_EQ(screen.lines[1],
            "\x08\xF3"
            "d\x09 \\~");
  ASSERT_EQ(screen.patterns.size(), 2u);
  EXPECT_EQ(screen.patterns[0], *letter_patterns::pattern_of(U'Ł'));
}

// The module's ROM is the box's setting LCD_ROM, read at start: unset or
// blank is the build's ROM without a word; a name is taken in either case
// and with the blanks and carriage return a file edited elsewhere leaves;
// anything else is one console line, its value escaped, and the build's ROM.
TEST(RomSetting, UnknownValueIsOneLineAndTheBuildsRom) {
  stdout_tap console;
  const lcd_rom::character_rom &fallback = lcd_rom::built_in();
  EXPECT_EQ(&rom_of_setting(nullptr), &fallback);
  EXPECT_EQ(&rom_of_setting(" \r"), &fallback);
  EXPECT_EQ(&rom_of_setting("A00"), &lcd_rom::a00);
  EXPECT_EQ(&rom_of_setting(" a02\r\n"), &lcd_rom::a02);
  EXPECT_EQ(&rom_of_setting("A02 European"), &fallback);
  EXPECT_EQ(&rom_of_setting("A2\x1b[2J"), &fallback);
  std::fflush(stdout);
  const std::string lines =
      std::string("LCD_ROM=A02 European is neither A00 nor A02: the display takes ") +
      fallback.name + "\nLCD_ROM=A2\\x1b[2J is neither A00 nor A02: the display takes " +
      fallback.name + "\n";
  EXPECT_TRUE(console.wait_for(lines)) << console.text();
  EXPECT_EQ(console.text(), lines);
}

}  // namespace
