// Word lists and the few patterns that make names from them.
#include "mkdisc/names.h"

#include <iterator>

namespace mkdisc {

namespace {

constexpr const char *first_names[] = {"Mara", "Jonas",  "Elif",  "Tomas", "Ines", "Oskar",
                                       "Lena", "Rafael", "Greta", "Milan", "Noor", "Ada"};
constexpr const char *surnames[] = {"Lindqvist", "Novak",    "Ferreira", "Brandt", "Okafor",
                                    "Marek",     "Sorensen", "Alvarez",  "Kowal",  "Hale"};
constexpr const char *adjectives[] = {"Quiet",  "Electric", "Northern", "Paper",  "Golden",
                                      "Broken", "Velvet",   "Distant",  "Silver", "Midnight",
                                      "Hollow", "Amber",    "Restless", "Wooden", "Crimson"};
constexpr const char *nouns[] = {"Harbour", "Engine",  "Garden",  "Lantern", "River",   "Satellite",
                                 "Window",  "Orchard", "Signal",  "Mirror",  "Highway", "Tide",
                                 "Compass", "Meadow",  "Station", "Letter",  "Winter",  "Echo"};

}  // namespace

const char *name_maker::pick(const char *const *words, std::size_t count) {
  return words[random_() % count];
}

std::string name_maker::artist() {
  if (random_() % 2 == 0) {
    return std::string(pick(first_names, std::size(first_names))) + " " +
           pick(surnames, std::size(surnames));
  }
  const std::string noun = pick(nouns, std::size(nouns));
  return std::string("The ") + pick(adjectives, std::size(adjectives)) + " " + noun +
         (noun.back() == 'o' ? "es" : "s");
}

std::string name_maker::album() {
  return std::string(pick(adjectives, std::size(adjectives))) + " " + pick(nouns, std::size(nouns));
}

std::string name_maker::title() {
  switch (random_() % 3) {
    case 0:
      return pick(nouns, std::size(nouns));
    case 1:
      return std::string(pick(adjectives, std::size(adjectives))) + " " +
             pick(nouns, std::size(nouns));
    default:
      return std::string(pick(nouns, std::size(nouns))) + " of the " +
             pick(adjectives, std::size(adjectives)) + " " + pick(nouns, std::size(nouns));
  }
}

std::string name_maker::unique(std::string name, std::set<std::string> &taken) {
  std::string candidate = name;
  for (int n = 2; taken.count(candidate) != 0; ++n) candidate = name + " " + std::to_string(n);
  taken.insert(candidate);
  return candidate;
}

}  // namespace mkdisc
