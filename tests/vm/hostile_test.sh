#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# discbox on a hostile disc through a real kernel: a Rock Ridge image holding
# a web of symbolic links (twenty folders, each with two links to the next)
# and titles whose names carry terminal queries and screen sequences, read
# by the kernel's isofs, whose inode numbers are the ones the player meets on
# a real drive. One boot (hostile_guest.sh); the checks read the console.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=vm.sh
. "$here/vm.sh"
vm_setup || exit 1
started=$SECONDS

work=$VM_WORK/hostile
mkdir -p "$work"
rm -rf "$work/disc"
vm_build_static "$work/build.log" discbox frame-sink mkdisc || exit 1
echo "build: $((SECONDS - started)) s"

# Artist A, album B: titles named with queries a terminal answers on its
# input (ESC [ 5 n, ESC [ 6 n, ESC [ > q), a screen clear, a newline and a
# C1 control; then l0 ... l20, the web of links, with one title in l20.
disc=$work/disc
"$VM_BUILD/tools/mkdisc/mkdisc" --entry A/B/x.mp3 --frames 40 "$disc" >/dev/null || exit 1
esc=$(printf '\033')
first="0 q${esc}[5n${esc}[6n${esc}[>q.mp3"
mv "$disc/A/B/x.mp3" "$disc/A/B/$first"
cp "$disc/A/B/$first" "$disc/A/B/1 clear${esc}[2J${esc}[r.mp3"
cp "$disc/A/B/$first" "$disc/A/B/2 line$(printf '\nR').mp3"
cp "$disc/A/B/$first" "$disc/A/B/3 c1$(printf '\302\233')6n.mp3"
for level in $(seq 0 20); do mkdir "$disc/l$level"; done
for level in $(seq 0 19); do
  ln -s "../l$((level + 1))" "$disc/l$level/a"
  ln -s "../l$((level + 1))" "$disc/l$level/b"
done
cp "$disc/A/B/$first" "$disc/l20/t.mp3"
xorriso -as mkisofs -quiet -R -o "$work/hostile.iso" "$disc" 2>/dev/null || exit 1

vm_player_initramfs "$work/initramfs" "$here/hostile_guest.sh" || exit 1
vm_boot --initramfs "$work/initramfs" --console "$work/hostile.console" \
  --cdrom "$work/hostile.iso" --timeout 240
lines() { vm_fact "$work/hostile.console" "$1" player; }

vm_test "hostile disc: the guest runs every step without a kernel failure or a missed wait"
vm_expect_equal "console check" "" "$(vm_check_console "$work/hostile.console")"
vm_expect_equal "waits" "" "$(vm_console_text "$work/hostile.console" | grep '^wait> ')"
vm_test_done

vm_test "web of links: each real folder is scanned once, on isofs's inode numbers"
vm_expect_equal "count" "LCD2:scan CD content... 5 titles" "$(lines scan | grep LCD2 | tail -n 1)"
vm_expect_equal "folders scanned again" 40 "$(lines scan | grep -c 'folder scanned already, skipped')"
vm_expect_equal "progress lines, one a folder" 24 "$(lines scan | grep -c '^LCD2:')"
vm_expect_equal "stopped screen" " Stopped1 Interpreten:2  Alben:2" "$(lines scan | grep Stopped1)"
vm_test_done

vm_test "control bytes in names: escaped on the console, no key typed by the terminal"
vm_expect_equal "selected" 'FILENAME: /cdrom/A/B/0 q\x1b[5n\x1b[6n\x1b[>q.mp3' \
  "$(lines play | grep FILENAME | head -n 1)"
vm_expect_equal "opened" 'Open /cdrom/A/B/0 q\x1b[5n\x1b[6n\x1b[>q.mp3' \
  "$(lines play | grep '^Open ' | head -n 1)"
vm_expect_equal "unprintable bytes" 0 "$(vm_fact "$work/hostile.console" leave unprintable)"
vm_expect_equal "eject" "and eject 1" "$(lines leave | grep 'and eject')"
vm_test_done

echo "hostile suite: $((SECONDS - started)) s"
