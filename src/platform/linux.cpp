// The real machine: port I/O on the parallel port, raw or through
// /dev/parport0, the CD-ROM ioctls on /dev/sr0 and mount(2). Linked into
// discbox only.
#include <fcntl.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {

int request_port_access() { return iopl(3); }
void port_write(unsigned short port, unsigned char value) { outb(value, port); }
unsigned char port_read(unsigned short port) { return inb(port); }

// O_CLOEXEC: the claim lives as long as the descriptor, which no program the
// player starts may keep.
int parport_open() { return open(parport_device(), O_RDWR | O_CLOEXEC); }
int parport_request(int fd, unsigned long request, void *argument) {
  return ioctl(fd, request, argument);
}
int parport_close(int fd) { return close(fd); }

// O_CLOEXEC keeps the decoder, which the MP3 mode executes, from inheriting
// (and so holding open) the drive.
int drive_open() { return open(drive_device(), O_RDONLY | O_CLOEXEC); }
int drive_request(int fd, unsigned long request, void *argument) {
  return ioctl(fd, request, argument);
}
int drive_close(int fd) { return close(fd); }

int mount_filesystem(const char *device, const char *mount_point, const char *type,
                     unsigned long flags) {
  return mount(device, mount_point, type, flags, nullptr);
}
int unmount_filesystem(const char *mount_point) { return umount(mount_point); }

const char *parport_device() { return "/dev/parport0"; }
const char *drive_device() { return "/dev/sr0"; }
const char *cdrom_mount_point() { return "/cdrom"; }
const char *floppy_device() { return "/dev/fd0"; }
const char *floppy_mount_point() { return "/floppy"; }
const char *decoder_program() { return DISCBOX_DECODER; }
const char *pcm_player_program() { return "/usr/bin/aplay"; }
const char *child_user() { return "discbox"; }

}  // namespace platform
