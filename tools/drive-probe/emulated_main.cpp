// drive-probe-emulated [--data-only-drive] [--drive-log FILE] DISC SCENARIO:
// the probe against the emulated drive holding DISC (a folder that is a
// data disc's tree, or "empty"), for comparison with a real kernel's answers.
#include <cstdio>
#include <cstring>

#include "emu/machine.h"
#include "probe.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: drive-probe-emulated [--data-only-drive] [--drive-log FILE] "
               "FOLDER|empty empty|disc\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  sim::machine_configuration &machine = sim::machine_config();
  int next = 1;
  for (; next < argc && argv[next][0] == '-'; ++next) {
    if (std::strcmp(argv[next], "--data-only-drive") == 0) {
      machine.data_only_drive = true;
    } else if (std::strcmp(argv[next], "--drive-log") == 0 && next + 1 < argc) {
      machine.drive_log = argv[++next];
    } else {
      return usage();
    }
  }
  if (argc - next != 2) return usage();
  sim::emulated_disc disc;
  if (std::strcmp(argv[next], "empty") != 0) {
    disc.kind = sim::emulated_disc::disc_kind::data;
    disc.folder = argv[next];
  }
  machine.discs = {disc};
  sim::reset_machine();
  return drive_probe::run(argv[next + 1], stdout);
}
