#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# The drive emulator checked against the kernel: drive-probe issues the drive
# requests the player makes (open, the table of contents, a play and the
# audio status on a data track, pause, resume, stop, door lock and eject,
# reopening with auto-close on and off) once against /dev/sr0 in the
# emulated PC and once against the emulated drive set up as qemu's IDE
# CD-ROM drive (--data-only-drive), and the two transcripts must be the
# same. qemu's drive holds data images only, so an audio CD has no
# reference here. One boot a scenario (probe_guest.sh). Run by run.sh; runs
# alone as well.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=vm.sh
. "$here/vm.sh"
vm_setup || exit 1
started=$SECONDS

work=$VM_WORK/probe
rm -rf "$work"
mkdir -p "$work"
vm_build_static "$work/build.log" drive-probe drive-probe-emulated mkdisc || exit 1
echo "build: $((SECONDS - started)) s"
build=$VM_BUILD
mkdir -p "$work/bin"
strip -o "$work/bin/drive-probe" "$build/tools/drive-probe/drive-probe"

# A data disc longer than the two seconds the probe asks to play.
"$build/tools/mkdisc/mkdisc" --plain-names --artists 1 --albums 1 --titles 3 --frames 400 \
  "$work/data" >/dev/null || exit 1
xorriso -as mkisofs -quiet -R -o "$work/data.iso" "$work/data" 2>/dev/null || exit 1

vm_initramfs "$work/initramfs" "$here/probe_guest.sh" \
  --module ata_piix --module sr_mod --module isofs \
  --file "$work/bin/drive-probe" /bin/drive-probe || exit 1

# The emulated drive works out a data track's length from the folder's
# files; qemu's from the image's size, which holds what the ISO 9660 writer
# adds. Where the track ends is only a bound for a play, so the lead-out's
# address is left out of the comparison; whether it answers is not. qemu
# also marks its lead-out alone as digital copy permitted (control bit 0x2),
# a flag of its drive model that the player never reads; the data bit is
# still compared.
normalise() {
  sed -E -e 's/^(TOCENTRY leadout) [0-9]{2}:[0-9]{2}:[0-9]{2}/\1 (end of the data track)/' \
    -e '/^TOCENTRY leadout/s/ ctrl 0x6 / ctrl 0x4 /'
}

# probe SCENARIO CDROM DISC: the kernel's transcript and the emulated drive's,
# in $work/SCENARIO.kernel and $work/SCENARIO.emulated.
probe() {
  vm_boot --initramfs "$work/initramfs" --console "$work/$1.console" \
    --cdrom "$2" --append "probe.scenario=$1" --timeout 120
  vm_fact "$work/$1.console" probe probe | normalise >"$work/$1.kernel"
  "$build/tools/drive-probe/drive-probe-emulated" --data-only-drive \
    --drive-log "$work/$1.drive-log" "$3" "$1" | normalise >"$work/$1.emulated"
}

probe empty empty empty
probe disc "$work/data.iso" "$work/data"

for scenario in empty disc; do
  vm_test "$scenario: the emulated drive answers each request as the kernel's drive does"
  vm_expect_equal "console check" "" "$(vm_check_console "$work/$scenario.console")"
  vm_expect_equal "probe status" 0 "$(vm_status "$work/$scenario.console" probe probe)"
  vm_expect_equal "kernel (want) against emulator (got)" "$(cat "$work/$scenario.kernel")" \
    "$(cat "$work/$scenario.emulated")"
  vm_test_done
done

echo "probe suite: $((SECONDS - started)) s"
