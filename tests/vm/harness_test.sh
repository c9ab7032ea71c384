#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# The emulated-PC harness itself: a hung guest is stopped and reported, a
# failing guest script is reported, and a disc image in the CD-ROM drive can
# be read in the guest. Run by run.sh; runs alone as well.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=vm.sh
. "$here/vm.sh"
vm_setup || exit 1

work=$VM_WORK/harness
rm -rf "$work"
mkdir -p "$work"

vm_test "a hung guest is stopped at the timeout and reported as unfinished"
echo 'sleep 1000' >"$work/hang.sh"
vm_initramfs "$work/hang.img" "$work/hang.sh"
status=0
vm_boot --initramfs "$work/hang.img" --console "$work/hang.console" --timeout 10 2>/dev/null ||
  status=$?
vm_expect_equal "vm_boot status" 124 "$status"
vm_expect "console check reports it" \
  grep -q 'did not finish' <<<"$(vm_check_console "$work/hang.console")"
vm_expect_equal "emulators left running" "" "$(pgrep -f "qemu-system.*$work/hang.img")"
vm_test_done

vm_test "a guest script that fails is reported with its status"
echo 'exit 3' >"$work/fail.sh"
vm_initramfs "$work/fail.img" "$work/fail.sh"
vm_boot --initramfs "$work/fail.img" --console "$work/fail.console" --timeout 120
vm_expect_equal "console check" "the guest's script ended with status 3" \
  "$(vm_check_console "$work/fail.console")"
vm_test_done

vm_test "a disc image in the CD-ROM drive reads back in the guest"
vm_install_missing xorriso
mkdir -p "$work/disc/artist"
echo "title one" >"$work/disc/artist/title.txt"
xorriso -as mkisofs -quiet -r -o "$work/disc.iso" "$work/disc" 2>/dev/null
vm_initramfs "$work/cdrom.img" "$here/harness_guest_cdrom.sh" \
  --module ata_piix --module sr_mod --module isofs
vm_boot --initramfs "$work/cdrom.img" --console "$work/cdrom.console" --cdrom "$work/disc.iso" \
  --timeout 120
vm_expect_equal "console check" "" "$(vm_check_console "$work/cdrom.console")"
vm_expect_equal "mount status" 0 "$(vm_status "$work/cdrom.console" cdrom mount)"
vm_expect_equal "file" "title one" "$(vm_fact "$work/cdrom.console" cdrom file)"
vm_test_done
