// The pieces of the disc library scan that do not walk folders: making and
// freeing nodes, testing one file for a title, and staying on the disc.
// Shared by the scan's source files only.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "mp3/library_node.h"

// A node named `name` (copied into the same allocation) with no children.
// Ends the process when memory runs out: the scan cannot go on without it.
fs_entry_ptr new_entry(const char *name, int entrys);

// A child array with room for `slots` pointers, each null.
fs_entry_children new_children(int slots);

// Whether the regular file at `path` is a title: its first four bytes, or the
// four after a leading ID3v2 tag, start a frame of usable length. Prints
// "_NO_FILE:" with the path when the file cannot be opened.
bool is_title_file(const char *path);

// A real folder, by device and inode, however the scan reached it.
struct folder_id {
  dev_t device;
  ino_t inode;
  bool operator==(const folder_id &) const = default;
};
struct folder_id_hash {
  std::size_t operator()(const folder_id &folder) const {
    return std::hash<ino_t>{}(folder.inode) ^ (std::hash<dev_t>{}(folder.device) << 1);
  }
};

// Whether `folder` is on `path`, the folders from the scan's root down to
// the one being scanned.
bool on_path(const std::vector<folder_id> &path, const folder_id &folder);

// The resolved folder that links may point into: the mount point when `dir`
// lies inside it, otherwise `dir` itself. Empty when `dir` cannot be resolved.
std::string disc_boundary(const char *dir);

// Whether the symbolic link at `path` resolves to a place inside `boundary`.
bool link_stays_inside(const char *path, const std::string &boundary);
