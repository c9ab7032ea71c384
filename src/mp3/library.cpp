// The library scan: walks the mounted disc once, depth first in alphabetical
// order, keeps folders and title files, and shows the running title count on
// display line 2.
//
// One path buffer serves the whole walk: each folder appends "/" and a name,
// and cuts it off again. A disc is untrusted input (Rock Ridge discs carry
// symbolic links), so the walk never follows a link off the disc, never
// re-enters a folder that is already on its path, and never lets a path
// outgrow the buffer.
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ctl/ctl.h"
#include "lcd/lcd.h"
#include "mp3/library_parts.h"

unsigned int NR_files = 0;

namespace {

constexpr char text_stat_failed[] = "open_entry_2 error%i\n%c\nexiting :-(\n";
constexpr char text_many_titles[] = "B%p\n";
constexpr char text_progress[] = "scan CD content... %u titles";
constexpr char text_progress_console[] = "LCD2:%s\n";
constexpr char text_unlistable[] = "unable to list folder %s\n";
constexpr char text_path_too_long[] = "path too long, skipped: %s/%s\n";
constexpr char text_link_off_disc[] = "link leads off the disc, skipped: %s\n";
constexpr char text_folder_loop[] = "folder already on the path, skipped: %s\n";

constexpr int album_depth = 4;  // the counted-up depth inside an album folder
constexpr int progress_bytes = 41;
// Rewriting a display line costs milliseconds of busy-waiting; on a cached
// disc that would outweigh the scan itself. A person cannot read faster.
constexpr std::int64_t progress_interval_ns = 250'000'000;

struct walk {
  char path[file_name_bytes];  // the folder being scanned, then "/" and a name
  std::size_t length = 0;
  std::vector<folder_id> folders;  // the root and every folder down to this one
  std::string boundary;
  std::int64_t last_progress_ns = 0;
};

std::int64_t monotonic_ns() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

bool is_dot_or_dot_dot(const char *name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool is_ignored_folder(const char *name) {
  return std::strcmp(name, "!player") == 0 || std::strcmp(name, "!PLAYER") == 0;
}

// The console gets the running count after every folder; the display gets
// it at most every progress_interval_ns, and always at the end.
void show_progress(walk &w, bool last) {
  std::snprintf(lcd_l2, progress_bytes, text_progress, NR_files);
  std::printf(text_progress_console, lcd_l2);
  const std::int64_t now = monotonic_ns();
  if (!last && now - w.last_progress_ns < progress_interval_ns) return;
  w.last_progress_ns = now;
  lcd_set_string(lcd_port, lcd_l2, 2);
}

fs_entry **scan_folder(walk &w, int *count, int depth, bool outermost);

// The entry whose path is in w.path: its node, or null when it is not kept.
fs_entry *examine(walk &w, const char *name, int depth, int listed) {
  struct stat buf;
  if (lstat(w.path, &buf) != 0) {
    std::printf(text_stat_failed, listed, w.path[0]);
    std::exit(-1);
  }
  if (S_ISLNK(buf.st_mode)) {
    if (!link_stays_inside(w.path, w.boundary)) {
      std::printf(text_link_off_disc, w.path);
      return nullptr;
    }
    if (stat(w.path, &buf) != 0) {
      std::printf(text_stat_failed, listed, w.path[0]);
      std::exit(-1);
    }
  }
  if (S_ISDIR(buf.st_mode)) {
    if (is_ignored_folder(name)) return nullptr;
    if (on_path(w.folders, buf.st_dev, buf.st_ino)) {
      std::printf(text_folder_loop, w.path);
      return nullptr;
    }
    fs_entry *node = new_entry(name, 0);
    w.folders.push_back({buf.st_dev, buf.st_ino});
    node->dir = scan_folder(w, &node->entrys, depth, false);
    w.folders.pop_back();
    return node;
  }
  if (S_ISREG(buf.st_mode) && is_title_file(w.path)) {
    ++NR_files;
    return new_entry(name, -1);
  }
  return nullptr;
}

// Scans the folder in w.path; depth as open_entry's. The outermost folder
// always shows the final count.
fs_entry **scan_folder(walk &w, int *count, int depth, bool outermost) {
  ++depth;
  dirent **names = nullptr;
  int listed = scandir(w.path, &names, nullptr, alphasort);
  if (listed < 0) {
    std::printf(text_unlistable, w.path);
    listed = 0;
  }
  fs_entry **children = new_children(listed + 1);
  int kept = 0;
  const std::size_t folder_length = w.length;
  for (int i = 0; i < listed; ++i) {
    const char *name = names[i]->d_name;
    const std::size_t name_length = std::strlen(name);
    if (is_dot_or_dot_dot(name)) {
      // never kept
    } else if (folder_length + 1 + name_length >= sizeof w.path) {
      std::printf(text_path_too_long, w.path, name);
    } else {
      w.path[folder_length] = '/';
      std::memcpy(w.path + folder_length + 1, name, name_length + 1);
      w.length = folder_length + 1 + name_length;
      if (fs_entry *node = examine(w, name, depth, listed)) children[kept++] = node;
      w.path[folder_length] = '\0';
      w.length = folder_length;
    }
    std::free(names[i]);
  }
  std::free(names);
  if (depth == album_depth && kept > 2) std::printf(text_many_titles, children[0]->name);
  children[kept] = nullptr;
  *count = kept;
  show_progress(w, outermost);
  return children;
}

}  // namespace

fs_entry **open_entry(const char *dir, int *count, int depth) {
  walk w;
  w.last_progress_ns = monotonic_ns();
  const std::size_t length = std::strlen(dir);
  if (length >= sizeof w.path) {
    std::printf(text_unlistable, dir);  // and counts as empty, like any such folder
    fs_entry **children = new_children(1);
    children[0] = nullptr;
    *count = 0;
    show_progress(w, true);
    return children;
  }
  std::memcpy(w.path, dir, length + 1);
  w.length = length;
  w.boundary = disc_boundary(dir);
  struct stat buf;
  if (stat(dir, &buf) == 0) w.folders.push_back({buf.st_dev, buf.st_ino});
  return scan_folder(w, count, depth, true);
}
