#include "console/console_text.h"

#include <cstdint>

#include "util/utf8.h"

namespace {

void append_escape(std::string &shown, std::uint8_t byte) {
  constexpr char digits[] = "0123456789abcdef";
  shown += "\\x";
  shown += digits[byte >> 4];
  shown += digits[byte & 0x0F];
}

}  // namespace

std::string console_escape(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F) {
        append_escape(shown, byte);
      } else {
        shown += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    std::uint32_t code_point = 0;
    const std::size_t length = util::utf8_sequence(text.substr(i), code_point);
    if (length == 0) {
      if (byte <= 0x9F) {
        append_escape(shown, byte);
      } else {
        shown += static_cast<char>(byte);
      }
      ++i;
    } else if (code_point <= 0x9F) {
      for (std::size_t k = 0; k < length; ++k) append_escape(shown, text[i + k]);
      i += length;
    } else {
      shown.append(text.substr(i, length));
      i += length;
    }
  }
  return shown;
}
