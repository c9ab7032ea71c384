// Inside the emulated parallel port: its registers as the port hardware
// sees them, for the two ways the player reaches them, raw port I/O
// (parallel_port.cpp) and the emulated kernel driver behind /dev/parport0
// (parport_device.cpp). Every write is logged and drives the display.
#pragma once

namespace sim {

// The port's I/O addresses: data at the base, status, control.
inline constexpr unsigned short base_port = 888;
inline constexpr unsigned short control_port = base_port + 2;

void write_port(unsigned short port_number, unsigned char value);
unsigned char read_port(unsigned short port_number);

// /dev/parport0 as nobody has opened it. Called by reset_display_emulator().
void reset_parport_device();

}  // namespace sim
