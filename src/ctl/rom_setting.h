// The display module's character ROM as the box's settings name it: the
// environment's LCD_ROM, which the service sets from the settings file.
// A setting that names no ROM must not keep the box from starting: the
// build's ROM stands in, and the console says so once.
#pragma once

#include "lcd/character_rom.h"

inline constexpr char rom_setting_name[] = "LCD_ROM";

// The ROM `value` names: "A00" or "A02", in either case, with blanks or a
// carriage return (a file edited on another system) around it. Null or
// blank (not set): the build's ROM, silently. Anything else: the build's
// ROM and one console line naming the value and the ROM taken.
const lcd_rom::character_rom &rom_of_setting(const char *value);
// The ROM `value` names as above; null where the build's ROM stands in.
// Says nothing.
const lcd_rom::character_rom *rom_named_by_setting(const char *value);

// Makes the module's ROM the one LCD_ROM names (above).
void choose_rom_from_environment();
