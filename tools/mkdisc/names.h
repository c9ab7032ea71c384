// Human-looking names for generated artists, albums and titles, so that the
// simulator's demo disc reads like a real one. Repeatable for a given seed;
// never two equal names in one folder.
#pragma once

#include <random>
#include <set>
#include <string>

namespace mkdisc {

class name_maker {
 public:
  explicit name_maker(std::uint32_t seed) : random_(seed) {}
  std::string artist();
  std::string album();
  std::string title();
  // A name not in `taken` (which it joins): `name`, else "name 2", "name 3"...
  static std::string unique(std::string name, std::set<std::string> &taken);

 private:
  const char *pick(const char *const *words, std::size_t count);
  std::mt19937 random_;
};

}  // namespace mkdisc
