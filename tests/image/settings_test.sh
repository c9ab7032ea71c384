#!/bin/sh
# The box's settings check (image/settings.sh) on the files an owner may
# leave on the FAT partition: what reaches the player's environment, and the
# one console line. Run by ctest.
settings=$(cd "$(dirname "$0")/../../image" && pwd)/settings.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# check NAME WANT_ENVIRONMENT WANT_LINE: runs the check on $work/from.
check() {
  rm -rf "$work/to"
  line=$(DISCBOX_SETTINGS_FROM=$work/from DISCBOX_SETTINGS_TO=$work/to sh "$settings")
  status=$?
  environment=$(cat "$work/to/environment" 2>/dev/null)
  if [ "$status" -ne 0 ] || [ "$environment" != "$2" ] || [ "$line" != "$3" ]; then
    echo "FAIL $1: status $status"
    printf 'want environment:\n%s\ngot:\n%s\nwant line: %s\ngot line:  %s\n' "$2" \
      "$environment" "$3" "$line"
    failed=1
  fi
}
conf() {
  rm -rf "$work/from"
  mkdir -p "$work/from"
  printf "$@" >"$work/from/discbox.conf"
}

conf '# comment\n\nLCD_ROM=A02\r\nSOUND_DEVICE=plughw:CARD=Intel,DEV=0\n'
check "a good file, saved on Windows" "$(printf 'LCD_ROM=A02\nSOUND_DEVICE=plughw:CARD=Intel,DEV=0')" ""

conf 'LCD_ROM=A00\nSOUND_DEVICE='
check "an empty sound device, no last newline" "$(printf 'LCD_ROM=A00\nSOUND_DEVICE=')" ""

# Nothing of a value may be run, expanded or passed on with quotes.
conf 'LCD_ROM=$(touch %s/ran)\nSOUND_DEVICE="hw:0" `touch %s/ran`\nPATH=/tmp\nSOUND_DEVICE=hw:1\n' \
  "$work" "$work"
check "junk costs its key the default, with one line" "SOUND_DEVICE=hw:1" \
  "settings: line 1: LCD_ROM must be A00 or A02 (and 2 more); playing with LCD_ROM=A00, SOUND_DEVICE=hw:1"
[ ! -e "$work/ran" ] || { echo "FAIL a value was run"; failed=1; }

rm -rf "$work/from"
mkdir -p "$work/from"
echo missing >"$work/from/card-status"
check "no file: the defaults and one line" "" \
  "settings: no discbox.conf on the settings partition; playing with LCD_ROM=A00, SOUND_DEVICE=(ALSA's default)"

rm -rf "$work/from"
check "no settings partition: the defaults and one line" "" \
  "settings: the settings partition could not be read; playing with LCD_ROM=A00, SOUND_DEVICE=(ALSA's default)"

[ "$failed" -eq 0 ] && echo "settings check: all cases passed"
exit "$failed"
