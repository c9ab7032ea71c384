# shellcheck shell=dash
# Runs in the emulated PC: mounts the disc in the IDE CD-ROM drive and shows
# a file from it (harness_test.sh).
# shellcheck source=/dev/null
. /lib/vm/guest.sh

vm_step cdrom
vm_cdrom_drivers
mkdir -p /cdrom
vm_show mount mount -t iso9660 -o ro /dev/sr0 /cdrom
vm_show file cat /cdrom/artist/title.txt
