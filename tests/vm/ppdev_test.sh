#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# discbox's display through the kernel's parallel port driver on a real
# kernel: the production binary, built static, draws its prompt with the
# drive empty (ppdev_guest.sh). One boot without any parallel port driver
# gives the raw port I/O reference, run as root; one boot with parport_pc
# and ppdev loaded runs the player as a user in the groups lp and cdrom
# only, which has no I/O privilege, and must show the same screens through
# /dev/parport0; with lp loaded too, the player says in one line that the
# port is held and goes on, with a dark display as that user and by raw
# port I/O as root. The same boot runs display_line_bench, which times a
# 40-character line both ways. Run by run.sh; runs alone as well.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=vm.sh
. "$here/vm.sh"
vm_setup || exit 1
started=$SECONDS

work=$VM_WORK/ppdev
rm -rf "$work"
mkdir -p "$work"

vm_build_static "$work/build.log" discbox frame-sink port-replay display_line_bench || exit 1
echo "build: $((SECONDS - started)) s"
build=$VM_BUILD

vm_player_initramfs "$work/initramfs" "$here/ppdev_guest.sh" \
  --module parport_pc --module ppdev --module lp \
  --file "$build/bench/display_line_bench" /bin/display_line_bench || exit 1

# boot SCENARIO: one run; its files are $work/SCENARIO.*.
boot() {
  local boot_started=$SECONDS
  vm_boot --initramfs "$work/initramfs" --console "$work/$1.console" --trace "$work/$1.trace" \
    --cdrom empty --append "ppdevsuite.scenario=$1" --timeout 150
  "$build/tools/port-replay/port-replay" "$work/$1.trace" >"$work/$1.display"
  echo "scenario $1: $((SECONDS - boot_started)) s"
}

# What the player printed in STEP of SCENARIO.
lines() { vm_fact "$work/$1.console" "$2" player; }
# The screens STEP of SCENARIO showed: in order, and each once.
screens_in_order() { vm_step_screens "$work/$1.display" "$work/$1.console" "$2"; }
screens() { screens_in_order "$1" "$2" | LC_ALL=C sort -u; }
# Whether STEP of SCENARIO showed the whole prompt; the player is stopped
# at any moment, perhaps while it redraws it.
prompted() { screens "$1" "$2" | grep -qxF "$prompt"; }
# The values STEP of SCENARIO wrote to the control register.
control_values() {
  vm_port_writes "$work/$1.trace" "$work/$1.console" "$2" | awk '$1 == "0x02" { print $2 }'
}
pad() { printf '%-40s' "$1"; }
prompt="|$(pad "Bitte CD einlegen...")|$(pad "")|"

boot raw
boot driver

for scenario in raw driver; do
  vm_test "$scenario: the guest runs every step without a kernel failure, a missed wait or a busy write"
  vm_expect_equal "console check" "" "$(vm_check_console "$work/$scenario.console")"
  vm_expect_equal "waits" "" "$(vm_console_text "$work/$scenario.console" | grep '^wait> ')"
  vm_expect_equal "busy violations" "busy violations 0" "$(tail -n 1 "$work/$scenario.display")"
  vm_test_done
done

vm_test "raw reference: no /dev/parport0, so raw port I/O as root draws the prompt"
vm_expect_equal "start-up" "$(printf '\n\ncontrol started...\ndisplay: raw port I/O (no /dev/parport0)\nWWWWWW\niopl 0\ncheck cd...')" \
  "$(lines raw prompt | head -n 7)"
vm_expect "display: the prompt" prompted raw prompt
vm_test_done

vm_test "the kernel's driver: a user in group lp without I/O privilege draws the same screens through /dev/parport0"
vm_expect_equal "user" "uid=1000(discbox) gid=1000(discbox) groups=7(lp),24(cdrom),1000(discbox)" \
  "$(vm_fact "$work/driver.console" drivers user)"
vm_expect_equal "start-up" "$(printf '\n\ncontrol started...\ndisplay: /dev/parport0\nWWWWWW\niopl -1\ncheck cd...')" \
  "$(lines driver claimed | head -n 7)"
vm_expect_equal "still running" "running? 0" \
  "$(vm_step_lines "$work/driver.console" claimed | grep '^running?')"
vm_expect "display: the prompt" prompted driver claimed
vm_expect_equal "screens" "$(screens raw prompt)" "$(screens driver claimed)"
# The driver passes on the control register's line bits: the raw path's
# values come out with the driver's interrupt enable (bit 4) in place of
# bits 6 and 7, and the claim adds the driver's start state 0x1c.
vm_expect_equal "control values" \
  "$({ control_values raw prompt | while read -r value; do
    printf '0x%02x\n' $(((value & 0x0f) | 0x10))
  done
  echo 0x1c; } | LC_ALL=C sort -u | paste -sd ' ')" \
  "$(control_values driver claimed | LC_ALL=C sort -u | paste -sd ' ')"
vm_test_done

vm_test "lp holds the port: one line, no hang; dark without I/O privilege, raw port I/O as root"
vm_expect_equal "held, as the user" \
  "display: off, no port access (/dev/parport0 held by another driver)" \
  "$(lines driver held | grep '^display: ')"
checks=$(lines driver held | grep -c 'check cd...')
vm_expect "the user's player prompts on, 2 or more times, not $checks" test "$checks" -ge 2
vm_expect_equal "no port write from the user's player" "" \
  "$(vm_port_writes "$work/driver.trace" "$work/driver.console" held)"
vm_expect_equal "held, as root" \
  "display: raw port I/O (/dev/parport0 held by another driver)" \
  "$(lines driver held-root | grep '^display: ')"
vm_expect "root's display: the prompt" prompted driver held-root
vm_test_done

vm_test "display_line_bench times a 40-character line both ways"
vm_fact "$work/driver.console" bench bench | sed 's/^/  bench | /'
vm_expect "raw port I/O measured" grep -q '^raw port I/O  *line' <<<"$(vm_fact "$work/driver.console" bench bench)"
vm_expect "the driver measured" grep -q '^/dev/parport0 (ppdev)  *line' \
  <<<"$(vm_fact "$work/driver.console" bench bench)"
vm_test_done

echo "ppdev suite: $((SECONDS - started)) s"
