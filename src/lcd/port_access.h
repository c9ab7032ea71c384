// How the display's registers are reached: through the kernel's parallel
// port driver (/dev/parport0) when the player can claim the port for
// itself, else by raw port I/O as the process's I/O privilege allows, else
// not at all.
//
// Through the driver the player needs no I/O privilege, only the right to
// open /dev/parport0 (group lp on Debian), and the kernel keeps the printer
// driver off the port for as long as the player holds it. The display driver
// cannot tell the ways apart: it writes the same bytes, waits the same
// waits, and reads the same register.
//
// The way is chosen once, at start-up, before any thread exists; processes
// forked afterwards (the MP3 mode) share the claim through the inherited
// descriptor. Every process starts with raw port I/O, which is what the
// display driver uses where nothing was chosen.
#pragma once

namespace port_access {

enum class access_way { raw, kernel_driver, none };

// Tries to claim /dev/parport0 for this process alone; on failure falls back
// to raw port I/O where raw_access_granted (the I/O privilege was granted),
// else to none, where the display is not driven at all: a raw port access
// without the privilege would kill the player. Says on one console line which
// way it took and why.
access_way choose(bool raw_access_granted);

// Closes /dev/parport0, which gives the port back to the kernel, and goes
// back to raw port I/O.
void release();

// The display's registers at the port base addr (888 on the player);
// through the driver, /dev/parport0 is the first parallel port, the one at
// 888, whatever addr says.
void write_data(unsigned int addr, unsigned char value);
void write_control(unsigned int addr, unsigned char value);
unsigned char read_data(unsigned int addr);

}  // namespace port_access
