// drive-probe SCENARIO: the probe against the machine's own drive, through
// the real seam (linked with the Linux hardware layer, static for a guest
// that holds nothing but busybox).
#include <cstdio>

#include "probe.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: drive-probe empty|disc\n");
    return 2;
  }
  return drive_probe::run(argv[1], stdout);
}
