// One file under test in the library scan: is it a title? Only the first
// bytes are read, with plain descriptors: a stdio stream would allocate a
// buffer and read a whole block for four bytes, once for every file on the
// disc.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "console/console_text.h"
#include "mp3/library_parts.h"
#include "mp3/mpeg_header.h"
#include "util/unique_fd.h"

namespace {

constexpr char text_no_file[] = "_NO_FILE:%s\n";

// Reads up to `length` bytes from `offset`; short only at the end of the file.
ssize_t read_at(int fd, std::uint8_t *bytes, std::size_t length, off_t offset) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = pread(fd, bytes + done, length - done, offset + done);
    if (got <= 0) return got < 0 && done == 0 ? -1 : static_cast<ssize_t>(done);
    done += got;
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

bool is_title_file(const char *path) {
  const util::unique_fd file(open(path, O_RDONLY | O_CLOEXEC));
  if (!file) {
    std::printf(text_no_file, console_escape(path).c_str());
    return false;
  }
  std::uint8_t start[id3v2_header_length];
  const std::uint8_t *header = start;
  ssize_t got = read_at(file.get(), start, sizeof start, 0);
  std::uint8_t after_tag[4];
  if (got == static_cast<ssize_t>(sizeof start)) {
    if (const unsigned int tag = id3v2_tag_length(start)) {
      got = read_at(file.get(), after_tag, sizeof after_tag, tag);
      header = after_tag;
    }
  }
  return got >= 4 && mpeg_frame_length_usable(mpeg_header_size(header));
}
