// Looking a character up in a table of entries sorted by their
// `character`, as the drawn letters and the stand-ins are.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace character_table {

template <typename Entry, std::size_t size>
const Entry *find(const Entry (&table)[size], char32_t character) {
  const auto found = std::lower_bound(
      std::begin(table), std::end(table), character,
      [](const Entry &entry, char32_t wanted) { return entry.character < wanted; });
  return found != std::end(table) && found->character == character ? found : nullptr;
}

}  // namespace character_table
