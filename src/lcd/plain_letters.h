// The nearest plain letters of the letters and signs a display cannot draw:
// é is e, Ø is O, – is -. Where one plain character cannot say it, a few
// do (Æ is AE, ½ is 1/2). The same table knows which letter a base letter
// and a combining mark make together, so that a name written decomposed
// (e and U+0301) reads as the letter (é).
#pragma once

namespace plain_letters {

// The plain stand-in for `character`, or null when there is none.
const char *plain_of(char32_t character);

// The letter that `base` followed by the combining `mark` makes, or 0.
char32_t composed(char32_t base, char32_t mark);

}  // namespace plain_letters
