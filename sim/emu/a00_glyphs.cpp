// The glyphs of character ROM A00, code by code. The datasheet leaves
// 0x10-0x1F and 0x80-0xA0 empty; they show blank. 0xA1-0xDF are the
// half-width katakana and signs of JIS X 0201, but for the two that are the
// signs a Western reader sees: 0xA5, a centred dot, and 0xDF, a small ring
// at the top (the degree sign). 0xE7, 0xEA, 0xF0, 0xF1 and 0xF9 are g, j,
// p, q and y with descenders; 0xE4 is the micro sign.
#include "emu/glass.h"

namespace sim {

namespace {

// One row a line, as the datasheet's table has them.
// clang-format off
constexpr const char *glyphs[256 - 16] = {
    /* 1x */ " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ",
    /* 2x */ " ", "!", "\"", "#", "$", "%", "&", "'", "(", ")", "*", "+", ",", "-", ".", "/",
    /* 3x */ "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", ":", ";", "<", "=", ">", "?",
    /* 4x */ "@", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    /* 5x */ "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "[", "¥", "]", "^", "_",
    /* 6x */ "`", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    /* 7x */ "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "{", "|", "}", "→", "←",
    /* 8x */ " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ",
    /* 9x */ " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ", " ",
    /* Ax */ " ", "｡", "｢", "｣", "､", "·", "ｦ", "ｧ", "ｨ", "ｩ", "ｪ", "ｫ", "ｬ", "ｭ", "ｮ", "ｯ",
    /* Bx */ "ｰ", "ｱ", "ｲ", "ｳ", "ｴ", "ｵ", "ｶ", "ｷ", "ｸ", "ｹ", "ｺ", "ｻ", "ｼ", "ｽ", "ｾ", "ｿ",
    /* Cx */ "ﾀ", "ﾁ", "ﾂ", "ﾃ", "ﾄ", "ﾅ", "ﾆ", "ﾇ", "ﾈ", "ﾉ", "ﾊ", "ﾋ", "ﾌ", "ﾍ", "ﾎ", "ﾏ",
    /* Dx */ "ﾐ", "ﾑ", "ﾒ", "ﾓ", "ﾔ", "ﾕ", "ﾖ", "ﾗ", "ﾘ", "ﾙ", "ﾚ", "ﾛ", "ﾜ", "ﾝ", "ﾞ", "°",
    /* Ex */ "α", "ä", "β", "ε", "µ", "σ", "ρ", "g", "√", "⁻¹", "j", "ˣ", "¢", "£", "ñ", "ö",
    /* Fx */ "p", "q", "θ", "∞", "Ω", "ü", "Σ", "π", "x̄", "y", "千", "万", "円", "÷", " ", "█",
};
// clang-format on

}  // namespace

const char *a00_glyph(unsigned char code) { return code < 0x10 ? " " : glyphs[code - 0x10]; }

}  // namespace sim
