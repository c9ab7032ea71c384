// The disc library: the mounted disc scanned once into an artist / album /
// title tree of the entries that matter (folders, and files that start with
// a usable MPEG frame header, after a leading ID3v2 tag if there is one).
#pragma once

#include "mp3/library_node.h"

// Titles kept so far over the whole scan; shown on display line 2.
extern unsigned int NR_files;

// The most entries (names in folder listings, "." and ".." aside) one scan
// looks at. Entries rather than kept titles, because every entry costs a
// status read (and a file an open), and every kept node was an entry: the
// ceiling bounds time, the library and each listing alike. It lies far
// above any real disc (a full CD of 100 KB clips holds some 7,000 titles, a
// DVD 47,000) and above a folder of 100,000 titles, which scans in about
// 4 s. At the ceiling the tree holds some 12 MB with usual names, and about
// 45 MB even if every name had the longest length allowed.
inline constexpr unsigned int scan_entry_ceiling = 150'000;

struct scan_options {
  unsigned int entry_ceiling = scan_entry_ceiling;
  // Called before each folder and file the scan looks at, with `context`:
  // the MP3 mode reads its keys there. It may end the process.
  void (*watch)(void *context) = nullptr;
  void *context = nullptr;
};

// Scans the folder `dir` (no trailing "/"): returns its kept children and
// stores their number in *count. `depth` is 1 for the mount point.
//
// The scan stays on the disc and follows its real content: a symbolic link
// whose target lies outside the mount point, a folder already on the path
// from the scanned folder down (a link back up), a folder scanned already
// (the same device and inode reached again through a link), and an entry
// whose status cannot be read are passed over with one console line each.
// A folder that cannot be listed counts as empty. Once the listings reach
// the entry ceiling, the scan says so in one line, lists no further folder,
// and keeps what it found.
fs_entry_children open_entry(const char *dir, int *count, int depth,
                             const scan_options &options = {});
