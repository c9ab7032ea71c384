# shellcheck shell=dash source-path=SCRIPTDIR
# Runs in the emulated PC: the real discbox drawing its prompt, with the
# drive empty, once by raw port I/O as root with no parallel port driver
# loaded (scenario raw), and once with the kernel's parallel port drivers
# (scenario driver): through /dev/parport0 as a user that is only in the
# groups lp and cdrom, then with the printer driver lp on the port as well,
# as that user and as root. ppdev_test.sh on the host checks what each step
# printed and, replayed from the traced port writes, what it showed.
# shellcheck source=/dev/null
. /lib/vm/guest.sh
# shellcheck source=player.sh
. /lib/vm/player.sh

scenario=$(sed -n 's/.*ppdevsuite\.scenario=\([a-z]*\).*/\1/p' /proc/cmdline)

# The player's prompt for a while: its console lines, and that it still runs.
prompt_for() {
  start_player "$2"
  wait_for "check cd..." 20
  sleep "$1"
  player_lines
  vm_show running kill -0 "$player"
  stop_player
}

player_setup

case $scenario in
  raw)
    vm_step prompt
    prompt_for 3.5
    ;;
  driver)
    vm_step drivers
    vm_show modules modprobe -a parport_pc ppdev
    mkdir -p /etc
    printf 'root:x:0:0::/root:/bin/sh\ndiscbox:x:1000:1000::/tmp:/bin/sh\n' >/etc/passwd
    printf 'root:x:0:\nlp:x:7:discbox\ncdrom:x:24:discbox\ndiscbox:x:1000:\n' >/etc/group
    # What Debian's udev rules do for the devices; the guest has no udev.
    chgrp lp /dev/parport0 && chmod 660 /dev/parport0
    chgrp cdrom /dev/sr0 && chmod 660 /dev/sr0
    vm_show user su -s /bin/sh -c id discbox
    vm_show device ls -l /dev/parport0

    vm_step claimed
    prompt_for 3.5 discbox

    vm_step bench
    vm_show bench display_line_bench --port 20

    vm_step held
    vm_show modules modprobe lp
    prompt_for 2 discbox

    vm_step held-root
    prompt_for 2
    ;;
  *)
    echo "unknown scenario: $scenario"
    exit 2
    ;;
esac

vm_step end
vm_show log vm_kernel_log
