#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# discbox on a real kernel: the production binary, built static, runs as the
# emulated PC's program (player_guest.sh) with the kernel's own ATA, SCSI
# CD-ROM and ISO 9660 drivers, an ISO image with Rock Ridge in qemu's IDE
# CD-ROM drive and frame-sink as /bin/mpg123. Each scenario is one boot; the
# checks read the console, the frames the decoder received (frame-runs) and
# the display, replayed from the traced port writes (port-replay). Run by
# run.sh; runs alone as well.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=vm.sh
. "$here/vm.sh"
vm_setup || exit 1
started=$SECONDS

work=$VM_WORK/player
rm -rf "$work"
mkdir -p "$work"

# The guest has busybox and nothing else, so discbox and frame-sink are
# linked static; mkdisc, port-replay and frame-runs run on the host.
vm_build_static "$work/build.log" discbox frame-sink mkdisc port-replay frame-runs || exit 1
echo "build: $((SECONDS - started)) s"
build=$VM_BUILD
mkdisc=$build/tools/mkdisc/mkdisc

# The discs. --stamp marks each frame with its title's number (1, 2, ... in
# the order artist01/album01/title01.mp3, title02.mp3, ...) and its index.
"$mkdisc" --plain-names --artists 2 --albums 2,1 --titles 3 --frames 200 --stamp \
  "$work/data" >/dev/null || exit 1
# Damage the reader resynchronises over: runs of zero bytes between frames (a
# first byte of 0 fails the in-stream test; random bytes may pass it, and are
# then sent on as a frame, for the decoder to resynchronise), a tag in front,
# a tag block and a frame cut short at the end.
"$mkdisc" --plain-names --artists 1 --albums 1 --titles 3 --frames 20 --zeros 5:7 --zeros 12:300 \
  --partial-tail 100 --tag --id3v2=16 --stamp "$work/damaged" >/dev/null || exit 1
"$mkdisc" --plain-names --artists 1 --albums 1 --titles 2 --frames 20 "$work/links" >/dev/null ||
  exit 1
ln -s . "$work/links/artist01/loop"
ln -s .. "$work/links/artist01/album01/up"
ln -s / "$work/links/root"
# A scratched disc: two artists of one album of two 600-frame titles; qemu's
# block layer fails every read of 64 sectors in the middle of the first title
# (its sectors 30 to 93) and of the second artist's folder (its directory).
"$mkdisc" --plain-names --artists 2 --albums 1,1 --titles 2 --frames 600 --stamp \
  "$work/scratched" >/dev/null || exit 1
for disc in data damaged links scratched; do
  # Rock Ridge keeps the names' case and the symbolic links.
  xorriso -as mkisofs -quiet -R -o "$work/$disc.iso" "$work/$disc" 2>/dev/null || exit 1
done

vm_player_initramfs "$work/initramfs" "$here/player_guest.sh" || exit 1

# The first sector of the first title, from xorriso's report of the image.
title_lba() {
  xorriso -indev "$1" -find "$2" -exec report_lba -- 2>/dev/null |
    sed -n "s|^File data lba: *0 , *\([0-9]*\) ,.*'$2'\$|\1|p"
}
# The sector of a folder's directory, from the image's little-endian path
# table (ISO 9660: its size at byte 132 and its sector at byte 140 of the
# volume descriptor in sector 16; each record the name's length, one byte
# more, the directory's sector in four bytes, the parent's number in two,
# then the name, padded to an even length).
folder_lba() {
  local iso=$1 name=$2 size table at=0 length lba record
  size=$(od -An -tu4 -j $((16 * 2048 + 132)) -N4 "$iso" | tr -d ' ')
  table=$(od -An -tu4 -j $((16 * 2048 + 140)) -N4 "$iso" | tr -d ' ')
  while ((at < size)); do
    length=$(od -An -tu1 -j $((table * 2048 + at)) -N1 "$iso" | tr -d ' ')
    lba=$(od -An -tu4 -j $((table * 2048 + at + 2)) -N4 "$iso" | tr -d ' ')
    record=$(dd if="$iso" bs=1 skip=$((table * 2048 + at + 8)) count="$length" 2>/dev/null | tr -d '\0')
    [ "$record" = "$name" ] && echo "$lba" && return
    at=$((at + 8 + length + length % 2))
  done
}
# blkdebug rules failing the reads of CD sectors FIRST to LAST (qemu counts
# 512-byte sectors; every read of the drive is of whole 2048-byte ones).
unreadable() {
  local lba
  for ((lba = $1; lba <= $2; ++lba)); do
    printf '[inject-error]\nevent = "read_aio"\nerrno = "5"\nsector = "%d"\n\n' $((lba * 4))
  done
}
scratch_from=$(($(title_lba "$work/scratched.iso" /artist01/album01/title01.mp3) + 30))
artist_lba=$(folder_lba "$work/scratched.iso" ARTIST02)
{
  unreadable "$scratch_from" $((scratch_from + 63))
  unreadable "$artist_lba" "$artist_lba"
} >"$work/scratched.blkdebug"

# boot SCENARIO CDROM [QEMU-ARG...]: one run; its files are $work/SCENARIO.*.
# The runs of frames the decoder received leave out a frame cut short at the
# very end: the decoder is stopped with frames still in the pipe.
boot() {
  local boot_started=$SECONDS scenario=$1 cdrom=$2 extra=()
  shift 2
  for argument in "$@"; do extra+=(--qemu "$argument"); done
  set -- "$scenario" "$cdrom"
  vm_boot --initramfs "$work/initramfs" --console "$work/$1.console" --trace "$work/$1.trace" \
    --cdrom "$2" --append "player.scenario=$1" --timeout 150 "${extra[@]}"
  "$build/tools/port-replay/port-replay" "$work/$1.trace" >"$work/$1.display"
  vm_fact "$work/$1.console" end frames | base64 -d >"$work/$1.frames" 2>/dev/null
  "$build/tools/frame-runs/frame-runs" "$work/$1.frames" | grep -v '^frames' |
    sed '${/^partial /d}' >"$work/$1.runs"
  echo "scenario $1: $((SECONDS - boot_started)) s"
}

# What the player printed in STEP of SCENARIO.
lines() { vm_fact "$work/$1.console" "$2" player; }
# How often a line holding TEXT comes in STEP of SCENARIO.
count() { lines "$1" "$2" | grep -cF -- "$3"; }
# The display at the end of STEP of SCENARIO: "|line 1|line 2|".
shown() { vm_step_screens "$work/$1.display" "$work/$1.console" "$2" | tail -n 1; }
line1() { shown "$1" "$2" | cut -d'|' -f2; }
line2() { shown "$1" "$2" | cut -d'|' -f3; }
pad() { printf '%-40s' "$1"; }
starts() { [[ $2 == "$1"* ]]; }
busy() { sed -n 's/^busy violations //p' "$work/$1.display"; }

boot empty empty
boot data "$work/data.iso"
boot damaged "$work/damaged.iso"
boot links "$work/links.iso"
# The image under qemu's error-injecting driver, in the drive in place of --cdrom.
boot scratched "" -drive "if=ide,media=cdrom,driver=raw,file.driver=blkdebug,file.config=$work/scratched.blkdebug,file.image.filename=${work//,/,,}/scratched.iso"

for scenario in empty data damaged links scratched; do
  vm_test "$scenario: the guest runs every step without a kernel failure or a missed wait"
  vm_expect_equal "console check" "" "$(vm_check_console "$work/$scenario.console")"
  vm_expect_equal "waits" "" "$(vm_console_text "$work/$scenario.console" | grep '^wait> ')"
  vm_test_done
done

vm_test "empty drive: the prompt and \"check cd...\" once a second, nothing else"
vm_expect_equal "a blocking open" "cat: can't open '/dev/sr0': No medium found" \
  "$(vm_fact "$work/empty.console" setup open)"
vm_expect_equal "start-up" \
  "$(printf '\n\ncontrol started...\ndisplay: raw port I/O (no /dev/parport0)\nWWWWWW\niopl 0\ncheck cd...')" \
  "$(lines empty prompt | head -n 7)"
checks=$(count empty prompt "check cd...")
# A loaded host slows the emulated PC down, never up: more than once a
# second is a fault, fewer only a slow guest, so the floor is a repeat.
vm_expect "2 to 6 prompts in 4.5 s, not $checks" test "$checks" -ge 2 -a "$checks" -le 6
vm_expect_equal "other lines" "" "$(lines empty prompt | sed 1,6d | grep -vx 'check cd...')"
vm_expect_equal "display" "|$(pad "Bitte CD einlegen...")|$(pad "")|" "$(shown empty prompt)"
vm_test_done

vm_test "data disc: no audio CD, so mounted and scanned; the first title selected"
vm_expect_equal "modes" "mp3 modus.." "$(lines data scan | grep modus)"
vm_expect_equal "last count" "LCD2:scan CD content... 9 titles" "$(lines data scan | grep LCD2 | tail -n 1)"
vm_expect_equal "stopped screen" "$(printf ' Stopped1 Interpreten:2  Alben:3\n Stopped2 Titel:9')" \
  "$(lines data scan | grep Stopped)"
vm_expect "display line 1 \"artist01 -- album01\", not \"$(line1 data scan)\"" \
  starts "artist01 -- album01" "$(line1 data scan)"
vm_expect "display line 2 \"title01.mp3\", not \"$(line2 data scan)\"" \
  starts "title01.mp3" "$(line2 data scan)"
vm_test_done

vm_test "M shows the counts; N plays title 1 from its first frame; E goes on with title 2"
vm_expect_equal "M" 1 "$(count data stop " stop ")"
vm_expect_equal "stopped display" "|$(pad "Interpreten:2  Alben:3")|$(pad "Titel:9")|" \
  "$(shown data stop)"
vm_expect "playing display line 2 \"title01.mp3\", not \"$(line2 data play)\"" \
  starts "title01.mp3" "$(line2 data play)"
vm_expect_equal "E" 1 "$(count data next " next title")"
vm_expect "next display line 2 \"title02.mp3\", not \"$(line2 data next)\"" \
  starts "title02.mp3" "$(line2 data next)"
runs=$(paste -sd ' ' "$work/data.runs")
vm_expect "title 1 from frame 0, then title 2 from frame 0, nothing else: $runs" \
  grep -qxE '1:0-[0-9]+ 2:0-[0-9]+' <<<"$runs"
vm_test_done

vm_test "X leaves: unmount 0, and eject 1; the disc stays out and the prompt returns"
vm_expect_equal "leave" "$(printf ' leave mp3 modus\nunmount 0\nand eject 1')" \
  "$(lines data leave | grep -E 'leave mp3|unmount|and eject')"
vm_expect_equal "no decoder left" "decoders? 1" \
  "$(vm_step_lines "$work/data.console" ejected | grep '^decoders')"
vm_expect_equal "mounted" 0 "$(vm_fact "$work/data.console" ejected mounts)"
checks=$(count data ejected "check cd...")
vm_expect "2 or more prompts in 3.5 s with the tray open, not $checks" test "$checks" -ge 2
vm_expect_equal "no mode" "" "$(lines data ejected | grep modus)"
vm_expect_equal "display" "|$(pad "Bitte CD einlegen...")|$(pad "")|" "$(shown data ejected)"
vm_test_done

vm_test "damaged titles: the decoder gets whole frames only, each title from first to last"
vm_expect_equal "first three titles" "$(printf '1:0-19\n2:0-19\n3:0-19')" \
  "$(head -n 3 "$work/damaged.runs")"
vm_expect_equal "no junk, no cut frame, no unstamped frame" "" \
  "$(grep -E '^(junk|partial|unstamped)' "$work/damaged.runs")"
vm_expect_equal "eject" "and eject 1" "$(lines damaged leave | grep 'and eject')"
vm_test_done

vm_test "a symbolic-link loop and a link to / are skipped; the scan ends with the disc's titles"
vm_expect_equal "skipped" "$(printf '%s\n' \
  "folder already on the path, skipped: /cdrom/artist01/album01/up" \
  "folder already on the path, skipped: /cdrom/artist01/loop" \
  "link leads off the disc, skipped: /cdrom/root")" \
  "$(lines links scan | grep skipped)"
vm_expect_equal "count" "LCD2:scan CD content... 2 titles" "$(lines links scan | grep LCD2 | tail -n 1)"
vm_expect_equal "stopped screen" " Stopped1 Interpreten:1  Alben:1" \
  "$(lines links scan | grep Stopped1)"
vm_expect_equal "eject" "and eject 1" "$(lines links leave | grep 'and eject')"
vm_test_done

vm_test "scratched disc: the unreadable folder is skipped; the title plays on past its unreadable part"
vm_expect_equal "count" "LCD2:scan CD content... 2 titles" \
  "$(lines scratched scan | grep LCD2 | tail -n 1)"
vm_expect_equal "one line for the title's unreadable part" 1 \
  "$(count scratched play "of the title unreadable, skipped")"
runs=$(paste -sd ' ' "$work/scratched.runs")
# 417-byte frames: 147 lie wholly in the title's first 30 sectors, and the
# first after its 94th begins in frame 462.
vm_expect "title 1 frames 0-146 and 462-599, then title 2 from frame 0: $runs" \
  grep -qxE '1:0-146 1:462-599 2:0-[0-9]+' <<<"$runs"
vm_expect_equal "no junk, no cut frame, no unstamped frame" "" \
  "$(grep -E '^(junk|partial|unstamped)' "$work/scratched.runs")"
vm_expect_equal "eject" "and eject 1" "$(lines scratched leave | grep 'and eject')"
vm_expect_equal "mounted" 0 "$(vm_fact "$work/scratched.console" leave mounts)"
vm_test_done

vm_test "display: no write reaches the controller while it is busy"
for scenario in empty data damaged links scratched; do
  vm_expect_equal "$scenario busy violations" 0 "$(busy $scenario)"
done
vm_test_done

echo "player suite: $((SECONDS - started)) s"
