// Reading a name character by character and giving each its cells.
#include "lcd/name_cells.h"

#include <algorithm>
#include <cstdint>

#include "lcd/plain_letters.h"
#include "util/utf8.h"

namespace name_cells {

namespace {

constexpr char none_shown[] = "?";

bool combining_mark(char32_t character) { return character >= 0x300 && character <= 0x36F; }

// The character at `at` in `text`, moving `at` past it: a valid UTF-8
// sequence's code point, else the one byte as ISO 8859-1.
char32_t next_code_point(std::string_view text, std::size_t &at) {
  std::uint32_t code_point = 0;
  const std::size_t length = util::utf8_sequence(text.substr(at), code_point);
  if (length == 0) return static_cast<unsigned char>(text[at++]);
  at += length;
  return code_point;
}

// The next character as a person reads it: combining marks after it are
// folded into it where the two make one letter, and dropped where they do
// not (the letter then stands for itself).
char32_t next_character(std::string_view text, std::size_t &at) {
  char32_t character = next_code_point(text, at);
  if (combining_mark(character)) return character;
  while (at < text.size()) {
    std::size_t after = at;
    const char32_t mark = next_code_point(text, after);
    if (!combining_mark(mark)) break;
    if (const char32_t letter = plain_letters::composed(character, mark)) character = letter;
    at = after;
  }
  return character;
}

class screen_builder {
 public:
  explicit screen_builder(const lcd_rom::character_rom &rom) : rom_(rom) {}

  std::string line_of(std::string_view text) {
    std::string line;
    std::size_t at = 0;
    while (at < text.size() && line.size() < line_cells) {
      const std::string cells = cells_of(next_character(text, at), line_cells - line.size());
      if (cells.empty()) break;
      line += cells;
    }
    return line;
  }

  std::vector<letter_patterns::dot_pattern> patterns() && { return std::move(patterns_); }

 private:
  // The cells that show `character`, or none when they would take more
  // than `room`. Every cell is one byte.
  std::string cells_of(char32_t character, std::size_t room) {
    if (const auto code = lcd_rom::code_of(rom_, character))
      return std::string(1, static_cast<char>(*code));
    if (const letter_patterns::dot_pattern *pattern = letter_patterns::pattern_of(character)) {
      if (const int slot = slot_of(character, *pattern); slot >= 0) {
        return std::string(1, static_cast<char>(first_slot_code + slot));
      }
    }
    const char *plain = plain_letters::plain_of(character);
    const std::string cells = plain != nullptr ? plain : none_shown;
    return cells.size() <= room ? cells : std::string();
  }

  // The slot that holds `character`'s pattern on this screen, taken now if
  // it has none yet and one is free; -1 when all are taken.
  int slot_of(char32_t character, const letter_patterns::dot_pattern &pattern) {
    const auto found = std::find(drawn_.begin(), drawn_.end(), character);
    if (found != drawn_.end()) return static_cast<int>(found - drawn_.begin());
    if (drawn_.size() == pattern_slots) return -1;
    drawn_.push_back(character);
    patterns_.push_back(pattern);
    return static_cast<int>(drawn_.size() - 1);
  }

  const lcd_rom::character_rom &rom_;
  std::vector<char32_t> drawn_;
  std::vector<letter_patterns::dot_pattern> patterns_;
};

}  // namespace

screen_cells screen_of(std::string_view line1, std::string_view line2,
                       const lcd_rom::character_rom &rom) {
  screen_builder builder(rom);
  screen_cells screen;
  screen.lines[0] = builder.line_of(line1);
  screen.lines[1] = builder.line_of(line2);
  screen.patterns = std::move(builder).patterns();
  return screen;
}

}  // namespace name_cells
