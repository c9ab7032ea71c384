// A node of the disc library: a folder with its kept children, or a title
// file. Each node owns its children, so the tree goes with its root; the
// scan (library.h) makes them.
#pragma once

#include <cstdlib>
#include <memory>

struct fs_entry;

// A node the scan made, with its name in the same allocation; freeing it
// frees everything below it.
struct fs_entry_release {
  void operator()(fs_entry *node) const;
};
using fs_entry_ptr = std::unique_ptr<fs_entry, fs_entry_release>;
// A folder's children: its kept nodes, then a null pointer.
using fs_entry_children = std::unique_ptr<fs_entry_ptr[]>;

// Each node owns its children: the tree goes with its root.
struct fs_entry {
  int entrys = 0;              // a folder: number of kept children; a title file: -1
  fs_entry_children dir;       // a folder: kept children, then a null pointer; a title: null
  const char *name = nullptr;  // the entry's own name, without any path
};

// The scan makes each node with malloc (library_parts.h), its name behind it.
inline void fs_entry_release::operator()(fs_entry *node) const {
  node->~fs_entry();
  std::free(node);
}
