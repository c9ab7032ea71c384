#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# lpgate in a real kernel: loads and unloads the module in the emulated PC
# (lpgate_guest.sh), alone and next to parport_pc, the usual owner of the
# port, and checks the port registry, the kernel log and the writes that
# reached the port. Also checks that these tests notice a module that keeps
# its ports after unload. Run by run.sh; runs alone as well.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=vm.sh
. "$here/vm.sh"
vm_setup || exit 1

work=$VM_WORK/lpgate
rm -rf "$work"
mkdir -p "$work/good" "$work/leaky" "$work/holder"
cp "$here/../../module/"{lpgate.c,Kbuild} "$work/good/"
cp "$here/../../module/Kbuild" "$work/leaky/"
sed '/release_region(/d' "$here/../../module/lpgate.c" >"$work/leaky/lpgate.c"
cp "$here/major_holder/"{major_holder.c,Kbuild} "$work/holder/"
for dir in good leaky holder; do
  vm_build_kmod "$work/$dir" || exit 1
done

# Boots lpgate_guest.sh with the lpgate.ko of DIR; the run's files land in DIR.
boot_with() {
  local dir=$1
  vm_initramfs "$dir/initramfs" "$here/lpgate_guest.sh" --module parport_pc \
    --file "$dir/lpgate.ko" /lpgate.ko --file "$work/holder/major_holder.ko" /major_holder.ko &&
    vm_boot --initramfs "$dir/initramfs" --console "$dir/console" --trace "$dir/trace" \
      --timeout 120
}

console=$work/good/console
trace=$work/good/trace
started=$SECONDS
boot_with "$work/good"
echo "one guest run: $((SECONDS - started)) s"

lpgate_lines() {
  vm_fact "$console" "$1" log | grep '^LPGATE'
}

vm_test "the guest runs every step without a kernel failure"
vm_expect_equal "console check" "" "$(vm_check_console "$console")"
vm_test_done

for step in load reload; do
  vm_test "$step: claims exactly 0378-037a as LPGATE, logs once, writes 0x10 to control"
  vm_expect_equal "load status" 0 "$(vm_status "$console" $step load)"
  vm_expect_equal "registry" "0378-037a : LPGATE" "$(vm_fact "$console" $step ports)"
  vm_expect_equal "log" "LPGATE installed at port 0x00000378 irq 7" "$(lpgate_lines $step)"
  vm_expect_equal "port writes" "0x02 0x10" "$(vm_port_writes "$trace" "$console" $step)"
  vm_test_done
done

vm_test "unload: frees the range, logs and writes nothing"
vm_expect_equal "unload status" 0 "$(vm_status "$console" unload unload)"
vm_expect_equal "registry" "" "$(vm_fact "$console" unload ports)"
vm_expect_equal "log" "" "$(lpgate_lines unload)"
vm_expect_equal "port writes" "" "$(vm_port_writes "$trace" "$console" unload)"
vm_expect_equal "reload unload status" 0 "$(vm_status "$console" reload unload)"
vm_test_done

vm_test "after unload another driver claims the range"
vm_expect_equal "parport_pc status" 0 "$(vm_status "$console" other-driver parport)"
vm_expect "registry shows parport0 at 0378-037a" \
  grep -qx "0378-037a : parport0" <<<"$(vm_fact "$console" other-driver ports)"
vm_test_done

vm_test "busy: refused with EBUSY while parport_pc holds the range, one message, no port write"
vm_expect_equal "load output" "load_module: /lpgate.ko: Device or resource busy" \
  "$(vm_fact "$console" busy load)"
vm_expect_equal "log" "LPGATE port already in use" "$(lpgate_lines busy)"
vm_expect_equal "port writes" "" "$(vm_port_writes "$trace" "$console" busy)"
vm_expect_equal "registry" "$(vm_fact "$console" other-driver ports)" \
  "$(vm_fact "$console" busy ports)"
vm_expect_equal "module list" "" "$(vm_fact "$console" busy loaded)"
vm_test_done

vm_test "a refused load leaves nothing behind: loads once parport_pc is gone"
vm_expect_equal "parport_pc unload status" 0 "$(vm_status "$console" after-busy parport)"
vm_expect_equal "load status" 0 "$(vm_status "$console" after-busy load)"
vm_expect_equal "unload status" 0 "$(vm_status "$console" after-busy unload)"
vm_test_done

vm_test "unload leaves another driver's character-device major 61 alone"
vm_expect_equal "holder load status" 0 "$(vm_status "$console" major holder)"
vm_expect_equal "lpgate load status" 0 "$(vm_status "$console" major load)"
vm_expect_equal "lpgate unload status" 0 "$(vm_status "$console" major unload)"
vm_expect_equal "/proc/devices" " 61 major_holder" "$(vm_fact "$console" major devices)"
vm_test_done

vm_test "while loaded, parport_pc leaves the port alone: no claim, no write"
vm_expect_equal "load status" 0 "$(vm_status "$console" guard load)"
vm_expect_equal "registry" "0378-037a : LPGATE" "$(vm_fact "$console" guard ports)"
vm_expect_equal "port writes" "0x02 0x10" "$(vm_port_writes "$trace" "$console" guard)"
vm_expect_equal "unload status" 0 "$(vm_status "$console" guard unload)"
vm_test_done

# A module that forgets release_region leaves its name in the registry
# pointing into freed module memory: the next read of /proc/ioports oopses.
vm_test "a module that keeps its range after unload fails the run"
vm_expect_equal "release_region calls left in the test copy" 0 \
  "$(grep -c 'release_region(' "$work/leaky/lpgate.c")"
leak_status=0
boot_with "$work/leaky" || leak_status=$?
vm_expect_equal "the run ended at the oops, not at the timeout: vm_boot status" 0 "$leak_status"
leak_report=$(vm_check_console "$work/leaky/console")
vm_expect "console check reports an oops" grep -qE 'Oops|BUG:' <<<"$leak_report"
vm_expect "the oops came at the unload step" \
  grep -qx '@@ step 2 unload' <(vm_console_text "$work/leaky/console")
vm_test_done
