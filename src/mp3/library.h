// The disc library: the mounted disc scanned once into an artist / album /
// title tree of the entries that matter (folders, and files that start with
// a usable MPEG frame header, after a leading ID3v2 tag if there is one).
#pragma once

struct fs_entry {
  int entrys;      // a folder: number of kept children; a title file: -1
  fs_entry **dir;  // a folder: kept children, then a null pointer; a title: null
  char *name;      // the entry's own name, without any path
};

// Titles kept so far over the whole scan; shown on display line 2.
extern unsigned int NR_files;

// Scans the folder `dir` (no trailing "/"): returns its kept children and
// stores their number in *count. `depth` is 1 for the mount point.
//
// The scan stays on the disc: a symbolic link whose target lies outside the
// mount point, and a folder already on the path from the scanned folder down
// (a link back up), are passed over with one console line each. A folder that
// cannot be listed counts as empty. Nodes and their names come from one
// allocation each: free them only with release_entries().
fs_entry **open_entry(const char *dir, int *count, int depth);

// Frees a child array returned by open_entry and every node below it.
void release_entries(fs_entry **dir);
