#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# Names on the display of a real box: the production discbox, built static,
# reads a Rock Ridge disc through the kernel's isofs (which hands it the
# names' bytes, UTF-8 as burned today or ISO 8859-1 from older discs) and
# drives the display through the emulated parallel port. The traced port
# writes are replayed (port-replay) into an HD44780 with character ROM A00,
# the common one, and each title must read cell by cell as written: ROM
# glyphs or drawn letters, never katakana, ¥ or →. One boot (names_guest.sh);
# about 25 s here, plus the static build the other suites share.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=vm.sh
. "$here/vm.sh"
vm_setup || exit 1
started=$SECONDS

work=$VM_WORK/names
rm -rf "$work"
mkdir -p "$work"
vm_build_static "$work/build.log" discbox frame-sink mkdisc port-replay || exit 1
echo "build: $((SECONDS - started)) s"

# One artist, one album, eight titles in this order (the player sorts the
# names' bytes).
titles=(
  "01 Björk.mp3"
  "02 Sigur Rós – Hoppípolla.mp3"
  "03 東京 🎵 Live.mp3"
  "04 Łódź Øre Ñandú.mp3"
  $'05 Caf\xe9 M\xfcller.mp3'  # ISO 8859-1
  "06 Back\\Slash~Tilde.mp3"
  "07 ÀÉÎÕÛ ÇÈÊËÌ À.mp3"
  "08 Grüße aus Düsseldorf, Köln & Ösel.mp3"
)
# What each reads as on the glass: the dash stands in as -, what no cell can
# say as ?, ISO 8859-1 bytes as their letters; on title 7 the album's Ä and
# Å and the first six of the title take the eight drawn characters, the rest
# stand in plainly and À keeps its drawn one; title 8 is 40 letters.
shown_titles=(
  "01 Björk.mp3"
  "02 Sigur Rós - Hoppípolla.mp3"
  "03 ?? ? Live.mp3"
  "04 Łódź Øre Ñandú.mp3"
  "05 Café Müller.mp3"
  "06 Back\\Slash~Tilde.mp3"
  "07 ÀÉÎÕÛ ÇEEEI À.mp3"
  "08 Grüße aus Düsseldorf, Köln & Ösel.mp3"
)
artist="Mötley Crüe"
album="Ärger in Åre"
disc=$work/disc
"$VM_BUILD/tools/mkdisc/mkdisc" --entry A/B/t.mp3 --frames 10 "$disc" >/dev/null || exit 1
mkdir -p "$disc/$artist/$album"
for title in "${titles[@]}"; do cp "$disc/A/B/t.mp3" "$disc/$artist/$album/$title"; done
rm -r "$disc/A"
xorriso -as mkisofs -quiet -R -o "$work/names.iso" "$disc" 2>/dev/null || exit 1

vm_player_initramfs "$work/initramfs" "$here/names_guest.sh" || exit 1
vm_boot --initramfs "$work/initramfs" --console "$work/names.console" --trace "$work/names.trace" \
  --cdrom "$work/names.iso" --timeout 240
"$VM_BUILD/tools/port-replay/port-replay" "$work/names.trace" >"$work/names.display"
echo "boot: $((SECONDS - started)) s"

lines() { vm_fact "$work/names.console" "$1" player; }
# TEXT padded with blanks to the display's 40 characters (not bytes).
pad() {
  local count
  count=$(printf %s "$1" | LC_ALL=C.UTF-8 wc -m)
  printf '%s%*s' "$1" $((40 - count)) ''
}

vm_test "names: the guest runs every step without a kernel failure or a missed wait"
vm_expect_equal "console check" "" "$(vm_check_console "$work/names.console")"
vm_expect_equal "waits" "" "$(vm_console_text "$work/names.console" | grep '^wait> ')"
vm_test_done

vm_test "each title reads on the display as written, through the real port writes"
for number in 1 2 3 4 5 6 7 8; do
  vm_expect_equal "title $number" \
    "|$(pad "$artist -- $album")|$(pad "${shown_titles[number - 1]}")|" \
    "$(vm_step_screens "$work/names.display" "$work/names.console" "title$number" | tail -n 1)"
done
vm_test_done

vm_test "no screen shows katakana, ¥, →, an unknown drawn letter, or a lost write"
# Half-width katakana (U+FF61-FF9F), ¥, → and ▒, as UTF-8 bytes.
wrong=$(grep -a '^|' "$work/names.display" |
  LC_ALL=C grep -aE $'\xef\xbd[\xa1-\xbf]|\xef\xbe[\x80-\x9f]|\xc2\xa5|\xe2\x86\x92|\xe2\x96\x92')
vm_expect_equal "wrong glyphs" "" "$wrong"
vm_expect_equal "busy violations" 0 "$(sed -n 's/^busy violations //p' "$work/names.display")"
vm_test_done

vm_test "the console keeps each name's own bytes"
vm_expect_equal "ISO 8859-1 name" \
  "FILENAME: /cdrom/$artist/$album/05 Caf"$'\xe9'" M"$'\xfc'"ller.mp3" \
  "$(lines title5 | grep -a '^FILENAME')"
vm_expect_equal "backslash and tilde" "FILENAME: /cdrom/$artist/$album/06 Back\\Slash~Tilde.mp3" \
  "$(lines title6 | grep -a '^FILENAME')"
vm_expect_equal "eject" "and eject 1" "$(lines leave | grep 'and eject')"
vm_test_done

echo "names suite: $((SECONDS - started)) s"
