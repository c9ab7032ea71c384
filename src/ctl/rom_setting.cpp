// Reading LCD_ROM at start.
#include "ctl/rom_setting.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/console_text.h"

namespace {

constexpr char text_unknown_rom[] = "LCD_ROM=%s is neither A00 nor A02: the display takes %s\n";
constexpr std::string_view blanks = " \t\r\n";

// `value` without the blanks around it.
std::string_view trimmed(const char *value) {
  std::string_view text = value != nullptr ? value : "";
  text.remove_prefix(std::min(text.size(), text.find_first_not_of(blanks)));
  text.remove_suffix(text.size() - (text.find_last_not_of(blanks) + 1));
  return text;
}

}  // namespace

const lcd_rom::character_rom *rom_named_by_setting(const char *value) {
  std::string name(trimmed(value).substr(0, sizeof "A00"));
  for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return lcd_rom::named(name);
}

const lcd_rom::character_rom &rom_of_setting(const char *value) {
  const lcd_rom::character_rom &fallback = lcd_rom::built_in();
  if (const lcd_rom::character_rom *rom = rom_named_by_setting(value)) return *rom;
  if (trimmed(value).empty()) return fallback;
  // The settings file is anyone's to edit: its value reaches the console
  // escaped, as a name from a disc does.
  std::printf(text_unknown_rom, console_escape(value).c_str(), fallback.name);
  return fallback;
}

void choose_rom_from_environment() {
  lcd_rom::choose_module(rom_of_setting(std::getenv(rom_setting_name)));
}
