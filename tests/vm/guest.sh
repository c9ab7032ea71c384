# shellcheck shell=dash
# Helpers for the test scripts that run inside the emulated PC (busybox sh).
# A script sources them with ". /lib/vm/guest.sh".
#
# vm_step NAME    begins the step NAME (unique within the script): prints
#                 "@@ step N NAME" and marks the port trace with N, so that
#                 the host can tell which output and which port writes
#                 belong to the step.
# vm_show KEY CMD...
#                 runs CMD and prints each line of its output (standard
#                 output and error) as "KEY> line", then "KEY? STATUS".
# vm_kernel_log   the kernel messages logged since the step began, without
#                 their time stamps.
# vm_cdrom_drivers
#                 loads the IDE CD-ROM and ISO 9660 drivers (shown as
#                 "drivers") and waits up to 10 s for /dev/sr0.

vm_step_number=0
vm_step_log_start=0

vm_step() {
  vm_step_number=$((vm_step_number + 1))
  vm_step_log_start=$(dmesg | wc -l)
  echo "@@ step $vm_step_number $1"
  trace_mark "$vm_step_number"
}

vm_show() {
  local key=$1 out status
  shift
  out=$("$@" 2>&1)
  status=$?
  [ -z "$out" ] || printf '%s\n' "$out" | sed "s/^/$key> /"
  echo "$key? $status"
}

vm_kernel_log() {
  dmesg | tail -n +$((vm_step_log_start + 1)) | sed 's/^\[[ 0-9.]*\] //'
}

vm_cdrom_drivers() {
  local tries=0
  vm_show drivers modprobe -a ata_piix sr_mod isofs
  # The drive's device node appears once the SCSI scan has found it.
  while [ ! -b /dev/sr0 ] && [ $tries -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
}
