// The glyphs of character ROM A02 (Western European), code by code, as the
// datasheet's table draws them. It is no Latin-1 above 0x7F: 0x80-0x8F are
// the Cyrillic capitals that differ from Latin ones, 0x90-0x9F Greek letters
// and signs (0x98 a bell, 0x9F a cap-shaped ∩), 0xA0 two bars, 0xA8 ƒ,
// 0xAC-0xAD Ю and Я, 0xAF a raised turned comma, 0xB4 the peseta sign, 0xB8
// ω, and 0xD8 Φ where Latin-1 has Ø (ø at 0xF8 is Latin-1's). 0x10-0x1F
// hold arrows, triangles and quotes; 0x7F is a house.
#include "emu/glass.h"

namespace sim {

namespace {

// One row a line, as the datasheet's table has them.
// clang-format off
constexpr const char *glyphs[256 - 16] = {
    /* 1x */ "▶", "◀", "“", "”", "⏫", "⏬", "●", "↵", "↑", "↓", "→", "←", "≤", "≥", "▲", "▼",
    /* 2x */ " ", "!", "\"", "#", "$", "%", "&", "'", "(", ")", "*", "+", ",", "-", ".", "/",
    /* 3x */ "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", ":", ";", "<", "=", ">", "?",
    /* 4x */ "@", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    /* 5x */ "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "[", "\\", "]", "^", "_",
    /* 6x */ "`", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    /* 7x */ "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "{", "|", "}", "~", "⌂",
    /* 8x */ "Б", "Д", "Ж", "З", "И", "Й", "Л", "П", "У", "Ц", "Ч", "Ш", "Щ", "Ъ", "Ы", "Э",
    /* 9x */ "α", "♪", "Γ", "π", "Σ", "σ", "♬", "τ", "⍾", "Θ", "Ω", "δ", "∞", "♥", "ε", "∩",
    /* Ax */ "‖", "¡", "¢", "£", "¤", "¥", "¦", "§", "ƒ", "©", "ª", "«", "Ю", "Я", "®", "‘",
    /* Bx */ "°", "±", "²", "³", "₧", "µ", "¶", "·", "ω", "¹", "º", "»", "¼", "½", "¾", "¿",
    /* Cx */ "À", "Á", "Â", "Ã", "Ä", "Å", "Æ", "Ç", "È", "É", "Ê", "Ë", "Ì", "Í", "Î", "Ï",
    /* Dx */ "Ð", "Ñ", "Ò", "Ó", "Ô", "Õ", "Ö", "×", "Φ", "Ù", "Ú", "Û", "Ü", "Ý", "Þ", "ß",
    /* Ex */ "à", "á", "â", "ã", "ä", "å", "æ", "ç", "è", "é", "ê", "ë", "ì", "í", "î", "ï",
    /* Fx */ "ð", "ñ", "ò", "ó", "ô", "õ", "ö", "÷", "ø", "ù", "ú", "û", "ü", "ý", "þ", "ÿ",
};
// clang-format on

}  // namespace

const char *a02_glyph(unsigned char code) { return code < 0x10 ? " " : glyphs[code - 0x10]; }

}  // namespace sim
