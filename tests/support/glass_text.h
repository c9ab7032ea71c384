// Reading the emulated display's glass in tests: a line is 40 cells of
// UTF-8 glyphs, so padding and cutting count characters, not bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The characters (cells) in `text`.
std::size_t cells_in(std::string_view text);

// `text` cut or padded with blanks to one display line of cells.
std::string glass_line(std::string_view text);
