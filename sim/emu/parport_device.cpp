// The emulated /dev/parport0: the kernel's parallel port driver (ppdev over
// parport_pc) in front of the emulated port, as the player meets it. The
// configuration says whether the device is there, free, held by another
// driver or closed to the player; the requests act on the same registers
// as raw port I/O, and write them as the kernel does:
//
// - A claim registers the opener on the port, then loads the port's state
//   for it and enables the port's interrupt: control 0x1C twice, the INIT
//   and SELECT bits (E high and a read of the instruction register, which
//   changes nothing on the display) with the interrupt enable, as parport_pc
//   does for a port with its interrupt line (IRQ 7 on the first port).
//   An exclusive registration (PPEXCL first) is refused with ENXIO while
//   another driver is registered on the port; a shared one succeeds there,
//   since that driver (lp) is idle until something prints.
// - PPWCONTROL passes on the four line bits of its value (0 to 3) and keeps
//   the driver's bits 4 and 5; PPDATADIR sets bit 5 (1: reverse) or clears
//   it. PPWDATA and PPRDATA write and read the data register.
// - Requests other than PPEXCL and PPCLAIM fail with EINVAL until the
//   port is claimed.
//
// One opener at a time, and only the opening process's close gives the port
// back: a forked child that closes its copy of the descriptor leaves the
// claim with its parent, as the kernel does until the last copy is closed.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "emu/display_cable.h"
#include "emu/machine.h"
#include "emu/port_registers.h"
#include "emu/shared_memory.h"
#include "platform/platform.h"

namespace sim {

namespace {

constexpr unsigned char line_bits = 0x0F;
constexpr unsigned char interrupt_enable_bit = 0x10;
constexpr unsigned char claimed_state = 0x1C;

struct parport_device {
  process_mutex mutex;
  pid_t opener = 0;
  int fd = -1;
  bool exclusive = false;
  bool claimed = false;
  unsigned char control = 0;  // the driver's copy of the control register
};

parport_device &device() {
  static parport_device *shared = make_shared_object<parport_device>();
  return *shared;
}

int fail(int error) {
  errno = error;
  return -1;
}

// The driver's way of changing control bits: its copy, then the register.
void change_control(parport_device &held, unsigned char mask, unsigned char value) {
  held.control = static_cast<unsigned char>((held.control & ~mask) | (value & mask));
  write_port(control_port, held.control);
}

int claim(parport_device &held) {
  if (held.claimed) return fail(EINVAL);
  if (held.exclusive && machine_config().parport == machine_configuration::parport_state::held) {
    return fail(ENXIO);
  }
  held.claimed = true;
  held.control = claimed_state;
  write_port(control_port, held.control);
  change_control(held, interrupt_enable_bit, interrupt_enable_bit);
  return 0;
}

int claimed_request(parport_device &held, unsigned long request, void *argument) {
  if (!held.claimed) return fail(EINVAL);
  switch (request) {
    case PPWDATA:
      write_port(base_port, *static_cast<unsigned char *>(argument));
      return 0;
    case PPRDATA:
      *static_cast<unsigned char *>(argument) = read_port(base_port);
      return 0;
    case PPWCONTROL:
      change_control(held, line_bits, *static_cast<unsigned char *>(argument));
      return 0;
    case PPDATADIR:
      change_control(held, direction_bit, *static_cast<int *>(argument) ? direction_bit : 0);
      return 0;
    case PPRELEASE:
      held.claimed = false;
      return 0;
    default:
      return fail(EINVAL);
  }
}

}  // namespace

void reset_parport_device() {
  parport_device &held = device();
  std::lock_guard lock(held.mutex);
  held.opener = 0;
  held.fd = -1;
  held.exclusive = false;
  held.claimed = false;
  held.control = 0;
}

}  // namespace sim

namespace platform {

int parport_open() {
  using parport_state = sim::machine_configuration::parport_state;
  switch (sim::machine_config().parport) {
    case parport_state::absent:
      return sim::fail(ENOENT);
    case parport_state::forbidden:
      return sim::fail(EACCES);
    case parport_state::claimable:
    case parport_state::held:
      break;
  }
  sim::parport_device &held = sim::device();
  std::lock_guard lock(held.mutex);
  if (held.fd >= 0) return sim::fail(EBUSY);
  // A real descriptor, so that a leaked one shows.
  const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  held.opener = getpid();
  held.fd = fd;
  return fd;
}

int parport_request(int fd, unsigned long request, void *argument) {
  sim::parport_device &held = sim::device();
  std::lock_guard lock(held.mutex);
  if (fd < 0 || fd != held.fd) return sim::fail(EBADF);
  switch (request) {
    case PPEXCL:
      if (held.claimed) return held.exclusive ? 0 : sim::fail(EINVAL);
      held.exclusive = true;
      return 0;
    case PPCLAIM:
      return sim::claim(held);
    default:
      return sim::claimed_request(held, request, argument);
  }
}

int parport_close(int fd) {
  sim::parport_device &held = sim::device();
  {
    std::lock_guard lock(held.mutex);
    if (fd >= 0 && fd == held.fd && getpid() == held.opener) {
      held.fd = -1;
      held.exclusive = false;
      held.claimed = false;
    }
  }
  return close(fd);
}

}  // namespace platform
