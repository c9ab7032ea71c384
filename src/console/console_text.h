// Names and paths from a disc on their way to the console. A disc is
// untrusted input: a control byte in a name would reach the terminal, which
// acts on escape sequences and answers some of them on its input, the
// player's key channel. Everything that prints a name or a path from a disc
// passes it through here first; the display gets it in its own code
// (lcd/name_cells.h).
#pragma once

#include <string>
#include <string_view>

// `text` with every C0 control byte (below 0x20), DEL (0x7F) and C1 control
// (U+0080 to U+009F in UTF-8, or a byte 0x80 to 0x9F that is not part of a
// valid UTF-8 sequence) written as a visible escape such as "\x1b". Every
// other byte stays as it is, so UTF-8 names print unchanged.
std::string console_escape(std::string_view text);
