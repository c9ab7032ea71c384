// The fixed names of the emulated machine: the port, the drive and the
// floppy keep their real device names; the mount points, the decoder and the
// PCM player come from the machine's configuration, since a user trying the
// simulator has neither /cdrom nor, perhaps, /bin/mpg123 or a sound card. The
// user the started programs run as is the box's: a simulator run as root
// gives its decoder and PCM player up to it (or to nobody) as the box does.
#include "emu/machine.h"
#include "platform/platform.h"

namespace platform {

const char *parport_device() { return "/dev/parport0"; }
const char *drive_device() { return "/dev/sr0"; }
const char *floppy_device() { return "/dev/fd0"; }
const char *cdrom_mount_point() { return sim::machine_config().cdrom_mount_point.c_str(); }
const char *floppy_mount_point() { return sim::machine_config().floppy_mount_point.c_str(); }
const char *decoder_program() { return sim::machine_config().decoder.c_str(); }
const char *pcm_player_program() { return sim::machine_config().pcm_player.c_str(); }
const char *child_user() { return "discbox"; }

}  // namespace platform
