# shellcheck shell=dash
# Runs in the emulated PC: takes lpgate through load, unload, a second load,
# a load while parport_pc holds the same ports, an unload next to a driver
# that owns character-device major 61, and parport_pc loading while lpgate
# holds the ports. lpgate_test.sh on the host checks what each step printed,
# logged and wrote to the port.
# shellcheck source=/dev/null
. /lib/vm/guest.sh

# The I/O-port registry's entries in the parallel port's block, 0x378-0x37f.
port_entries() {
  grep -E '^ *037[89a-f]-' /proc/ioports | sed 's/^ *//'
  return 0
}

show_ports_and_log() {
  vm_show ports port_entries
  vm_show log vm_kernel_log
}

vm_step load
vm_show load load_module /lpgate.ko
show_ports_and_log

vm_step unload
vm_show unload rmmod lpgate
show_ports_and_log

vm_step reload
vm_show load load_module /lpgate.ko
show_ports_and_log
vm_show unload rmmod lpgate

vm_step other-driver
vm_show parport modprobe parport_pc
vm_show ports port_entries

vm_step busy
vm_show load load_module /lpgate.ko
show_ports_and_log
vm_show loaded sh -c 'lsmod | grep -w lpgate'

vm_step after-busy
vm_show parport rmmod parport_pc parport
vm_show load load_module /lpgate.ko
vm_show unload rmmod lpgate

vm_step major
vm_show holder load_module /major_holder.ko
vm_show load load_module /lpgate.ko
vm_show unload rmmod lpgate
vm_show devices sh -c 'grep -w 61 /proc/devices'

vm_step guard
vm_show load load_module /lpgate.ko
vm_show parport modprobe parport_pc
vm_show ports port_entries
vm_show unload rmmod lpgate
