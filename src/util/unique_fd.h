// A descriptor with one owner: closed when its owner goes, handed on only by
// move, given up with release() when a caller takes over the closing.
// `Close` is how it is closed: ::close for an ordinary descriptor, the
// platform seam's own close for a device opened through the seam (the drive,
// the port), so that the emulators see the close as the kernel would.
#pragma once

#include <unistd.h>

#include <utility>

namespace util {

inline int posix_close(int fd) { return ::close(fd); }

template <int (*Close)(int)>
class unique_descriptor {
 public:
  unique_descriptor() = default;
  explicit unique_descriptor(int fd) : fd_(fd) {}
  unique_descriptor(unique_descriptor &&other) noexcept : fd_(other.release()) {}
  unique_descriptor &operator=(unique_descriptor &&other) noexcept {
    reset(other.release());
    return *this;
  }
  unique_descriptor(const unique_descriptor &) = delete;
  unique_descriptor &operator=(const unique_descriptor &) = delete;
  ~unique_descriptor() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }

  // The descriptor is no longer closed here.
  int release() { return std::exchange(fd_, -1); }

  // Closes what is held (a close that fails still frees the number) and
  // holds fd instead.
  void reset(int fd = -1) {
    if (fd_ >= 0) Close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

using unique_fd = unique_descriptor<posix_close>;

}  // namespace util
