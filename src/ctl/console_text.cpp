#include "ctl/console_text.h"

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence at the start of `text` (shortest
// form, no surrogates, at most U+10FFFF), or 0 when it is not one; its code
// point goes to `code_point`.
std::size_t utf8_sequence(std::string_view text, std::uint32_t &code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  std::size_t length = 0;
  std::uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code_point = code_point << 6 | (byte(i) & 0x3F);
  }
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point < minimum || surrogate || code_point > 0x10FFFF) return 0;
  return length;
}

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
    const std::size_t length = utf8_sequence(text.substr(i), code_point);
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
