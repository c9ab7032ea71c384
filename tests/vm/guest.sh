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
