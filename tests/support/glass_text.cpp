#include "support/glass_text.h"

#include "emu/display.h"

namespace {

bool continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::size_t cells_in(std::string_view text) {
  std::size_t count = 0;
  for (const char byte : text) count += !continuation(byte);
  return count;
}

std::string glass_line(std::string_view text) {
  std::string line;
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!continuation(text[at]) && count++ == sim::display_columns) break;
    line += text[at];
  }
  for (; count < sim::display_columns; ++count) line += ' ';
  return line;
}
