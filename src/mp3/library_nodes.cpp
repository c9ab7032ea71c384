// Library nodes and the scan's guards against leaving the disc. A node and
// its name share one allocation: the tree of a full disc holds tens of
// thousands of them, and it is built once and never edited.
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "mp3/library_parts.h"
#include "mp3/mode_exit.h"
#include "platform/platform.h"
#include "util/unique_handle.h"

namespace {

constexpr char text_out_of_memory[] = "out of memory during the CD scan\n";

void *allocate(std::size_t bytes) {
  void *memory = std::malloc(bytes);
  if (memory == nullptr) {
    std::printf(text_out_of_memory);
    end_mode_process(-1);
  }
  return memory;
}

// Whether the resolved path `path` is `folder` or lies below it.
bool inside(const char *path, const std::string &folder) {
  if (folder == "/") return true;
  const std::size_t length = folder.size();
  return std::strncmp(path, folder.c_str(), length) == 0 &&
         (path[length] == '\0' || path[length] == '/');
}

std::string resolved(const char *path) {
  const util::unique_malloc<char> real(realpath(path, nullptr));
  if (real == nullptr) return {};
  return std::string(real.get());
}

}  // namespace

fs_entry_ptr new_entry(const char *name, int entrys) {
  const std::size_t name_bytes = std::strlen(name) + 1;
  void *memory = allocate(sizeof(fs_entry) + name_bytes);
  char *own_name = static_cast<char *>(memory) + sizeof(fs_entry);
  std::memcpy(own_name, name, name_bytes);
  return fs_entry_ptr(new (memory) fs_entry{entrys, nullptr, own_name});
}

fs_entry_children new_children(int slots) {
  fs_entry_children children(new (std::nothrow) fs_entry_ptr[slots]);
  if (children == nullptr) {
    std::printf(text_out_of_memory);
    end_mode_process(-1);
  }
  return children;
}

bool on_path(const std::vector<folder_id> &path, const folder_id &folder) {
  for (const folder_id &above : path) {
    if (above == folder) return true;
  }
  return false;
}

std::string disc_boundary(const char *dir) {
  std::string folder = resolved(dir);
  const std::string mount_point = resolved(platform::cdrom_mount_point());
  if (!folder.empty() && !mount_point.empty() && inside(folder.c_str(), mount_point)) {
    return mount_point;
  }
  return folder;
}

bool link_stays_inside(const char *path, const std::string &boundary) {
  const std::string target = resolved(path);
  return !target.empty() && !boundary.empty() && inside(target.c_str(), boundary);
}
