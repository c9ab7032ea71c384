// The choice between the kernel's parallel port driver and raw port I/O,
// its console line, and the register accesses of each way.
#include "lcd/port_access.h"

#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "lcd/lcd_wiring.h"
#include "platform/platform.h"
#include "util/unique_fd.h"

namespace port_access {

namespace {

constexpr char text_kernel_driver[] = "display: %s\n";
constexpr char text_raw[] = "display: raw port I/O (%s)\n";
constexpr char text_none[] = "display: off, no port access (%s)\n";
constexpr char text_no_device[] = "no %s";
constexpr char text_held[] = "%s held by another driver";
constexpr char text_failed[] = "%s: %s";

// The port device, closed through the seam as it was opened.
using parport_fd = util::unique_descriptor<platform::parport_close>;

// Set before any thread starts, then only read. The descriptor is closed
// by release() or when the process ends: the claim lasts as long as the
// process, and the kernel gives the port back then.
access_way way = access_way::raw;
parport_fd parport;

std::string reason(const char *text, const char *detail = "") {
  char line[256];
  std::snprintf(line, sizeof line, text, platform::parport_device(), detail);
  return line;
}

// The port for this process alone: the descriptor that holds it, or -1 and
// why not. Exclusive, so that no other driver registers on the port while
// the player holds it, and so that a claim never waits for a driver that
// holds the port already: the kernel then refuses the registration (ENXIO)
// instead of blocking until that driver lets go.
parport_fd claim(std::string &why_not) {
  parport_fd claimed(platform::parport_open());
  const int device = claimed.get();
  if (!claimed) {
    const bool absent = errno == ENOENT || errno == ENODEV || errno == ENXIO;
    why_not = absent ? reason(text_no_device) : reason(text_failed, std::strerror(errno));
    return {};
  }
  if (platform::parport_request(device, PPEXCL, nullptr) != 0 ||
      platform::parport_request(device, PPCLAIM, nullptr) != 0) {
    why_not = errno == ENXIO ? reason(text_held) : reason(text_failed, std::strerror(errno));
    return {};
  }
  // The port drives D0-D7 itself, as every control value the display
  // driver writes says with its direction bit clear. The claim left E high
  // (the driver's start state for a device), with the display driving the
  // data lines against the port: E goes low at once, with R/W on read, so
  // that the display driver's first write is no falling edge of E.
  int forward = 0;
  unsigned char idle = lcd_wiring::control_value(lcd_wiring::register_select::data,
                                                 lcd_wiring::transfer_direction::read,
                                                 lcd_wiring::enable_level::low);
  if (platform::parport_request(device, PPDATADIR, &forward) != 0 ||
      platform::parport_request(device, PPWCONTROL, &idle) != 0) {
    why_not = reason(text_failed, std::strerror(errno));
    return {};
  }
  return claimed;
}

}  // namespace

access_way choose(bool raw_access_granted) {
  std::string why_not;
  release();
  parport = claim(why_not);
  if (parport) {
    way = access_way::kernel_driver;
    std::printf(text_kernel_driver, platform::parport_device());
  } else if (raw_access_granted) {
    way = access_way::raw;
    std::printf(text_raw, why_not.c_str());
  } else {
    way = access_way::none;
    std::printf(text_none, why_not.c_str());
  }
  return way;
}

void release() {
  parport.reset();
  way = access_way::raw;
}

namespace {

// One register write either way: the driver's request for the register, or
// the register's offset from the port base.
void write_register(unsigned long request, unsigned int addr, unsigned int offset,
                    unsigned char value) {
  switch (way) {
    case access_way::kernel_driver:
      platform::parport_request(parport.get(), request, &value);
      break;
    case access_way::raw:
      platform::port_write(static_cast<unsigned short>(addr + offset), value);
      break;
    case access_way::none:
      break;
  }
}

}  // namespace

void write_data(unsigned int addr, unsigned char value) {
  write_register(PPWDATA, addr, lcd_wiring::data_register_offset, value);
}

// The driver passes on only the control register's four line bits (bits 0
// to 3: R/W, nothing, E and RS on the display's cable), and those carry
// everything the display sees. Of the rest of each value: bits 6 and 7 have
// no pins; bit 5, the data direction, is the driver's, set forward once at
// the claim, as every value has it clear; bit 4, the port's interrupt
// enable, is the driver's too (it sets it at the claim), and the display's
// cable leaves the line that would interrupt (nAck) unconnected.
void write_control(unsigned int addr, unsigned char value) {
  write_register(PPWCONTROL, addr, lcd_wiring::control_register_offset, value);
}

// With nothing to read, the lines float high.
unsigned char read_data(unsigned int addr) {
  unsigned char value = 0xFF;
  switch (way) {
    case access_way::kernel_driver:
      platform::parport_request(parport.get(), PPRDATA, &value);
      break;
    case access_way::raw:
      value =
          platform::port_read(static_cast<unsigned short>(addr + lcd_wiring::data_register_offset));
      break;
    case access_way::none:
      break;
  }
  return value;
}

}  // namespace port_access
