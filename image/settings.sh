#!/bin/sh
# The box's settings, checked before the player starts: the initramfs copied
# discbox.conf from the FAT partition to /run/discbox-image (or noted why it
# could not). Only the keys below with values of the listed forms pass, into
# /run/discbox-settings/environment, which systemd reads as plain
# KEY=VALUE lines: no value is ever expanded by a shell, and values with
# quotes, backslashes, blanks or '$' never get that far. Anything else costs
# the key its default and one console line; the player always starts.
# The two folders may be given elsewhere (tests/image/settings_test.sh).
from=${DISCBOX_SETTINGS_FROM:-/run/discbox-image}
out=${DISCBOX_SETTINGS_TO:-/run/discbox-settings}
copied=$from/discbox.conf
status=$from/card-status
mkdir -p "$out"
lcd_rom=
sound_device=
set_lcd_rom=no
set_sound_device=no
problems=0
first_problem=

problem() {
  problems=$((problems + 1))
  [ -n "$first_problem" ] || first_problem=$1
}

if [ -f "$copied" ]; then
  number=0
  while IFS= read -r line || [ -n "$line" ]; do
    number=$((number + 1))
    # A file saved on Windows ends its lines with CR.
    line=${line%"$(printf '\r')"}
    case $line in
      '' | '#'*) continue ;;
      LCD_ROM=*)
        value=${line#LCD_ROM=}
        case $value in
          A00 | A02) lcd_rom=$value && set_lcd_rom=yes ;;
          *) problem "line $number: LCD_ROM must be A00 or A02" ;;
        esac
        ;;
      SOUND_DEVICE=*)
        value=${line#SOUND_DEVICE=}
        case $value in
          *[!A-Za-z0-9_:,.=-]*) problem "line $number: SOUND_DEVICE has a character no ALSA device name has" ;;
          *) sound_device=$value && set_sound_device=yes ;;
        esac
        ;;
      *) problem "line $number is not LCD_ROM=... or SOUND_DEVICE=..." ;;
    esac
  done <"$copied"
elif [ "$(cat "$status" 2>/dev/null)" = missing ]; then
  problem "no discbox.conf on the settings partition"
else
  problem "the settings partition could not be read"
fi

{
  [ "$set_lcd_rom" = yes ] && echo "LCD_ROM=$lcd_rom"
  [ "$set_sound_device" = yes ] && echo "SOUND_DEVICE=$sound_device"
} >"$out/environment.part"
mv "$out/environment.part" "$out/environment"

if [ "$problems" -gt 0 ]; then
  more=
  [ "$problems" -gt 1 ] && more=" (and $((problems - 1)) more)"
  default_sound="(ALSA's default)"
  used="LCD_ROM=${lcd_rom:-A00}, SOUND_DEVICE=${sound_device:-$default_sound}"
  echo "settings: $first_problem$more; playing with $used"
fi
exit 0
