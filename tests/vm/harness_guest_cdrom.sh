# shellcheck shell=dash
# Runs in the emulated PC: mounts the disc in the IDE CD-ROM drive and shows
# a file from it (harness_test.sh).
# shellcheck source=/dev/null
. /lib/vm/guest.sh

vm_step cdrom
vm_show drivers modprobe -a ata_piix sr_mod isofs
# The drive's device node appears once the SCSI scan has found it.
tries=0
while [ ! -b /dev/sr0 ] && [ $tries -lt 100 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
mkdir -p /cdrom
vm_show mount mount -t iso9660 -o ro /dev/sr0 /cdrom
vm_show file cat /cdrom/artist/title.txt
