/* Loads one kernel module with a single finit_module() call and reports the
 * kernel's answer, for tests in the emulated PC.
 *
 * busybox's insmod falls back to init_module() when finit_module() fails, so
 * a module whose init refuses to load would run its init, and log, twice.
 *
 * Usage: load_module FILE.ko
 * Exit status 0 when loaded; 1 with "load_module: FILE: <error text>" on
 * standard error when the kernel refused it.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: load_module FILE.ko\n");
    return 2;
  }
  int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0 || syscall(SYS_finit_module, fd, "", 0) != 0) {
    fprintf(stderr, "load_module: %s: %s\n", argv[1], strerror(errno));
    return 1;
  }
  close(fd);
  return 0;
}
