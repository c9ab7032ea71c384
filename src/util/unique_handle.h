// Streams, directory listings and malloc'd blocks with one owner each:
// std::unique_ptr with the C library's own release function, so an early
// return or an exception cannot leak them.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace util {

struct file_closer {
  void operator()(std::FILE *stream) const { std::fclose(stream); }
};
struct dir_closer {
  void operator()(DIR *listing) const { ::closedir(listing); }
};
struct free_deleter {
  void operator()(void *block) const { std::free(block); }
};

using unique_file = std::unique_ptr<std::FILE, file_closer>;
using unique_dir = std::unique_ptr<DIR, dir_closer>;
template <typename T>
using unique_malloc = std::unique_ptr<T, free_deleter>;

}  // namespace util
