// Reading UTF-8 as it comes from a disc: names are bytes, and a byte that
// is not part of a valid sequence must be told apart from one that is,
// both where names are printed on the console and where they are shown on
// the display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace util {

// The length of the valid UTF-8 sequence at the start of `text` (shortest
// form, no surrogates, at most U+10FFFF), or 0 when it is not one (also for
// a plain ASCII byte); its code point goes to `code_point`.
std::size_t utf8_sequence(std::string_view text, std::uint32_t &code_point);

}  // namespace util
