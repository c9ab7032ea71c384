# shellcheck shell=dash
# Runs in the emulated PC: drive-probe against /dev/sr0, through the kernel's
# own ATA and SCSI CD-ROM drivers and qemu's IDE CD-ROM drive. The scenario
# comes from the kernel command line (probe.scenario=empty|disc);
# probe_test.sh on the host compares the transcript with the emulated drive's.
# shellcheck source=/dev/null
. /lib/vm/guest.sh

scenario=$(sed -n 's/.*probe\.scenario=\([a-z]*\).*/\1/p' /proc/cmdline)

vm_step setup
vm_cdrom_drivers

vm_step probe
vm_show probe drive-probe "$scenario"
vm_show log vm_kernel_log
