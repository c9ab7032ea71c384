// The 5x8 dot patterns of the letters and signs a character ROM may lack,
// for the display's character-generator RAM: a name that needs one has it
// loaded into one of the eight slots and shows the slot's code.
#pragma once

#include <array>

namespace letter_patterns {

inline constexpr int rows = 8;
// Row 0 is the top; bit 4 of a row is its leftmost dot, bit 0 its rightmost.
using dot_pattern = std::array<unsigned char, rows>;

// The pattern that draws `character`, or null when there is none.
const dot_pattern *pattern_of(char32_t character);

}  // namespace letter_patterns
