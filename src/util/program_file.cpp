// Opening the program before the privilege drop and executing the open
// file after it.
#include "util/program_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace util {

program_file::program_file(const char *path, int report)
    : path_(path),
      file_(open(path, O_PATH | O_CLOEXEC)),
      open_error_(file_ < 0 ? errno : 0),
      report_(report) {}

int program_file::execute(char *const arguments[], char *const environment[]) const {
  if (file_ < 0) return report(open_error_);
  execve(path_, arguments, environment);
  fexecve(file_, arguments, environment);
  int error = errno;
  if (error == ENOENT) {
    // A script: its interpreter is handed /dev/fd/N for the script, which a
    // close-on-exec descriptor no longer names once the exec has begun, so
    // the kernel refuses it as missing. Left open, the interpreter reads the
    // script through it (the descriptor stays open in the script too). A
    // binary whose loader is missing fails the same way again.
    fcntl(file_, F_SETFD, 0);
    fexecve(file_, arguments, environment);
    error = errno;
    fcntl(file_, F_SETFD, FD_CLOEXEC);
  }
  return report(error);
}

int program_file::execute(char *const arguments[]) const { return execute(arguments, environ); }

int program_file::report(int error) const {
  if (report_ >= 0) {
    const ssize_t written = write(report_, &error, sizeof error);
    static_cast<void>(written);
  }
  return error;
}

}  // namespace util
