// The key channel: its descriptors, its streams and the raw terminal settings both modes use.
#include "console/key_channel.h"

#include <fcntl.h>
#include <unistd.h>

#include "util/unique_fd.h"

int pipe_keyboard[2] = {-1, -1};

std::FILE *open_key_stream() {
  util::unique_fd descriptor(fcntl(pipe_keyboard[1], F_DUPFD_CLOEXEC, 0));
  if (!descriptor) return nullptr;
  std::FILE *keys = fdopen(descriptor.get(), "r");
  if (keys == nullptr) return nullptr;
  descriptor.release();  // the stream closes it now
  setvbuf(keys, nullptr, _IONBF, 0);
  return keys;
}

int read_key(std::FILE *keys) {
  int key = keys != nullptr ? std::fgetc(keys) : EOF;
  if (key == EOF) {
    if (keys != nullptr) std::clearerr(keys);
    sleep(1);
  }
  return key;
}

void make_raw_key_input(termios &settings) {
  settings.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  settings.c_cflag &= ~(CSIZE | PARENB);
  settings.c_cflag |= CS8;
}
