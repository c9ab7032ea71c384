/* Writes a step number into the parallel port's trace, for tests in the
 * emulated PC.
 *
 * The host records every port write of the guest (qemu's
 * parallel_ioport_write trace), from the firmware's probe onwards. A test
 * that marks the start of each step can tell which writes that step made.
 * The mark goes to offset 7 of the port (0x37f), which the emulated
 * standard-mode port ignores and no test subject writes.
 *
 * Usage: trace_mark N   (N from 1 to 255)
 */
#include <stdio.h>
#include <stdlib.h>
#include <sys/io.h>

#define MARK_PORT 0x37f

int main(int argc, char **argv) {
  char *end = NULL;
  long step = argc == 2 ? strtol(argv[1], &end, 10) : 0;
  if (argc != 2 || *end != '\0' || step < 1 || step > 255) {
    fprintf(stderr, "usage: trace_mark N   (N from 1 to 255)\n");
    return 2;
  }
  if (ioperm(MARK_PORT, 1, 1) != 0) {
    perror("trace_mark: ioperm");
    return 1;
  }
  outb((unsigned char)step, MARK_PORT);
  return 0;
}
