// Names from a disc on their way to the console: control bytes become
// visible escapes, everything else (UTF-8 names above all) stays as it is.
#include "console/console_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string escape_of(unsigned char byte) {
  char text[5];
  std::snprintf(text, sizeof text, "\\x%02x", byte);
  return text;
}

TEST(ConsoleText, EveryAsciiControlByteAndDelBecomeEscapes) {
  for (int byte = 0; byte < 0x80; ++byte) {
    const std::string name = "a" + std::string(1, static_cast<char>(byte)) + "b";
    const bool control = byte < 0x20 || byte == 0x7F;
    const std::string shown = control ? escape_of(byte) : std::string(1, static_cast<char>(byte));
    EXPECT_EQ(console_escape(name), "a" + shown + "b") << byte;
  }
}

TEST(ConsoleText, TerminalQueriesAndScreenSequencesArriveAsText) {
  EXPECT_EQ(console_escape("\x1b[5n\x1b[6n\x1b[>q\x1b[2J\x1b[r.mp3"),
            "\\x1b[5n\\x1b[6n\\x1b[>q\\x1b[2J\\x1b[r.mp3");
  EXPECT_EQ(console_escape("one\ntwo\r"), "one\\x0atwo\\x0d");
  EXPECT_EQ(console_escape("100%n %s"), "100%n %s");
}

TEST(ConsoleText, C1ControlsAreEscapedInUtf8AndAsStrayBytes) {
  for (int code = 0x80; code <= 0x9F; ++code) {
    const std::string utf8 = {static_cast<char>(0xC2), static_cast<char>(code)};
    EXPECT_EQ(console_escape(utf8), "\\xc2" + escape_of(code)) << code;
    EXPECT_EQ(console_escape(std::string(1, static_cast<char>(code))), escape_of(code)) << code;
  }
}

TEST(ConsoleText, ValidUtf8PassesUnchanged) {
  for (const char *name : {"Ébène – für Élise.mp3", "\u00a0nbsp", "日本語", "\U0001F3B5 note",
                           "\U0010FFFF", "\u07ff\u0800\uffff"}) {
    EXPECT_EQ(console_escape(name), name);
  }
}

// Bytes that are not valid UTF-8 are taken one by one: those in the C1
// range are escaped, the others go out as they are.
TEST(ConsoleText, InvalidUtf8KeepsItsBytesButNotItsControls) {
  EXPECT_EQ(console_escape("\xc0\x9b"), "\xc0\\x9b");           // overlong form of CSI
  EXPECT_EQ(console_escape("\xe0\x82\x9b"), "\xe0\\x82\\x9b");  // overlong, three bytes
  EXPECT_EQ(console_escape("\xed\xa0\x80"), "\xed\xa0\\x80");   // a surrogate
  EXPECT_EQ(console_escape("\xe2\x82"), "\xe2\\x82");           // cut short
  EXPECT_EQ(console_escape("\xf5\x80\x80\x80"), "\xf5\\x80\\x80\\x80");
  EXPECT_EQ(console_escape("\xff\xfe\xa0"), "\xff\xfe\xa0");
  EXPECT_EQ(console_escape("\xc3"), "\xc3");
}

}  // namespace
