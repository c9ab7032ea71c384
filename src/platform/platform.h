// The seam between the player and the machine it runs on.
//
// The core reaches the hardware only through these few calls. discbox links
// linux.cpp (real port I/O, real ioctls on the CD-ROM device, real mounts);
// discbox-sim and every test link the emulators in sim/emu instead. Each
// implementation is a thin pass-through: it decides nothing and prints
// nothing, so every diagnostic stays in core code that the tests reach.
//
// Everything else the player uses (files, fork, exec, pipes, threads,
// semaphores, the terminal) is ordinary POSIX and called directly.
#pragma once

namespace platform {

// Display port access. request_port_access() raises the I/O privilege
// (iopl(3)) and returns 0, or -1 with errno set when it is refused.
int request_port_access();
void port_write(unsigned short port, unsigned char value);
unsigned char port_read(unsigned short port);

// The same port through the kernel's parallel port driver (ppdev), which
// arbitrates it with the other drivers and needs no I/O privilege.
// parport_open() opens parport_device() read-write and returns the
// descriptor, or -1 with errno set; parport_request() issues one
// linux/ppdev.h request and returns what ioctl returns.
int parport_open();
int parport_request(int fd, unsigned long request, void *argument);
int parport_close(int fd);

// The CD-ROM drive. drive_open() opens drive_device() read-only and blocking
// and returns the descriptor, or -1 with errno set (ENOMEDIUM: no disc).
// drive_request() issues one linux/cdrom.h request and returns what ioctl
// returns (-1 with errno set on failure).
int drive_open();
int drive_request(int fd, unsigned long request, void *argument);
int drive_close(int fd);

// File systems. Both return 0, or -1 with errno set. Unmounting names the
// mount point: today's kernels no longer take a device name there.
int mount_filesystem(const char *device, const char *mount_point, const char *type,
                     unsigned long flags);
int unmount_filesystem(const char *mount_point);

// The fixed names of this machine.
const char *parport_device();      // "/dev/parport0"
const char *drive_device();        // "/dev/sr0"
const char *cdrom_mount_point();   // "/cdrom"
const char *floppy_device();       // "/dev/fd0"
const char *floppy_mount_point();  // "/floppy"
const char *decoder_program();     // the mpg123 wrapper, DISCBOX_DECODER
// Plays raw CD audio from its standard input on ALSA's default device, for
// drives that cannot play audio CDs themselves.
const char *pcm_player_program();  // "/usr/bin/aplay"
// The system user the decoder and the PCM player run as when the player is
// root: they parse a disc's bytes, and need nothing of root's.
const char *child_user();  // "discbox"

}  // namespace platform
