// Writes a planned disc into a folder. It never overwrites: the folder must
// be new or empty, and every file is created exclusively.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "mkdisc/disc_plan.h"
#include "mkdisc/music_title.h"

namespace mkdisc {

namespace {

namespace fs = std::filesystem;

const char text_file[] = "Liner notes\n\nRecorded in one afternoon. Not an MPEG frame.\n";

std::vector<std::uint8_t> plain_file_bytes(const planned_file &file, const title_options &options,
                                           std::uint32_t seed, unsigned int title) {
  switch (file.kind) {
    case file_kind::title: {
      if (options.music) return {};
      title_options own = options;
      own.frames = file.frames;
      if (options.stamp != 0) own.stamp = title;
      return title_bytes(own, file.names, seed);
    }
    case file_kind::text:
      return {text_file, text_file + sizeof text_file - 1};
    case file_kind::short_file:
      return {0xFF, 0xFB, 0x90};
    case file_kind::free_format: {
      std::vector<std::uint8_t> bytes =
          silent_frame(static_cast<const frame_format &>(options), false);
      bytes[2] = 0x00;
      return bytes;
    }
  }
  return {};
}

// `title`: the file's number among the disc's titles, from 1, which is
// also the number of its piece of music.
bool file_bytes(const planned_file &file, const title_options &options, std::uint32_t seed,
                unsigned int title, std::vector<std::uint8_t> &bytes, std::string &error) {
  bytes = plain_file_bytes(file, options, seed, title);
  if (file.kind != file_kind::title || !options.music) return true;
  title_options own = options;
  own.frames = file.frames;
  return music_title_bytes(own, file.names, title, bytes, error);
}

bool write_file(const fs::path &path, const std::vector<std::uint8_t> &bytes, std::string &error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = path.string() + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += wrote;
  }
  const bool complete = done == bytes.size();
  if (!complete) error = path.string() + ": " + std::strerror(errno);
  if (close(fd) != 0 && complete) {
    error = path.string() + ": " + std::strerror(errno);
    return false;
  }
  return complete;
}

}  // namespace

bool write_disc(const std::string &folder, const disc_plan &plan, const title_options &options,
                std::uint32_t seed, std::string &error) {
  std::error_code failure;
  const fs::path top(folder);
  if (fs::exists(top, failure) && !fs::is_empty(top, failure)) {
    error = folder + ": exists and is not empty";
    return false;
  }
  fs::create_directories(top, failure);
  for (const std::string &sub : plan.folders) {
    if (!failure) fs::create_directories(top / sub, failure);
  }
  if (failure) {
    error = folder + ": " + failure.message();
    return false;
  }
  std::uint32_t file_seed = seed;
  unsigned int titles = 0;
  for (const planned_file &file : plan.files) {
    if (file.kind == file_kind::title) ++titles;
    const fs::path path = top / file.path;
    fs::create_directories(path.parent_path(), failure);
    if (failure) {
      error = path.parent_path().string() + ": " + failure.message();
      return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!file_bytes(file, options, ++file_seed, titles, bytes, error) ||
        !write_file(path, bytes, error)) {
      return false;
    }
  }
  return true;
}

}  // namespace mkdisc
