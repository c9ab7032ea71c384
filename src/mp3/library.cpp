// The library scan: walks the mounted disc once, depth first in alphabetical
// order, keeps folders and title files, and shows the running title count on
// display line 2.
//
// One path buffer serves the whole walk: each folder appends "/" and a name,
// and cuts it off again. A disc is untrusted input (Rock Ridge discs carry
// symbolic links), so the walk never follows a link off the disc, enters
// each real folder once however many links lead to it, stops at a ceiling
// of entries, never lets a path outgrow the buffer, and prints names only
// through console_escape().
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "console/console_text.h"
#include "lcd/lcd.h"
#include "mp3/library.h"
#include "mp3/library_parts.h"
#include "mp3/library_position.h"
#include "util/clock.h"
#include "util/unique_handle.h"

unsigned int NR_files = 0;

namespace {

constexpr char text_unreadable[] = "entry cannot be read, skipped: %s\n";
constexpr char text_many_titles[] = "B%p\n";
constexpr char text_progress[] = "scan CD content... %u titles";
constexpr char text_progress_console[] = "LCD2:%s\n";
constexpr char text_unlistable[] = "unable to list folder %s\n";
constexpr char text_path_too_long[] = "path too long, skipped: %s/%s\n";
constexpr char text_link_off_disc[] = "link leads off the disc, skipped: %s\n";
constexpr char text_folder_loop[] = "folder already on the path, skipped: %s\n";
constexpr char text_folder_again[] = "folder scanned already, skipped: %s\n";
constexpr char text_ceiling[] = "scan stopped after %u entries: the library keeps what was found\n";

constexpr int album_depth = 4;  // the counted-up depth inside an album folder
constexpr int progress_bytes = 41;
// Rewriting a display line costs milliseconds of busy-waiting; on a cached
// disc that would outweigh the scan itself. A person cannot read faster.
constexpr std::int64_t progress_interval_ns = 250'000'000;

struct walk {
  char path[file_name_bytes];  // the folder being scanned, then "/" and a name
  std::size_t length = 0;
  std::vector<folder_id> folders;  // the root and every folder down to this one
  std::unordered_set<folder_id, folder_id_hash> scanned;
  std::string boundary;
  std::int64_t last_progress_ns = 0;
  scan_options options;
  unsigned int entries_listed = 0;
  bool at_ceiling = false;
};

// The walk whose listings the scandir filter counts. The scan runs in one
// thread, before the pipeline threads exist.
walk *listing_walk = nullptr;

void print_path(const char *format, const char *path) {
  std::printf(format, console_escape(path).c_str());
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
  char progress[progress_bytes];
  std::snprintf(progress, progress_bytes, text_progress, NR_files);
  std::printf(text_progress_console, progress);
  const std::int64_t now = util::monotonic_ns();
  if (!last && now - w.last_progress_ns < progress_interval_ns) return;
  w.last_progress_ns = now;
  lcd_set_string(lcd_port, progress, 2);
}

// The scandir filter: counts the names a listing returns, and once the
// ceiling is reached takes no more, so that no listing outgrows it either.
int within_ceiling(const dirent *entry) {
  walk &w = *listing_walk;
  if (is_dot_or_dot_dot(entry->d_name)) return 1;
  if (w.entries_listed >= w.options.entry_ceiling) {
    w.at_ceiling = true;
    return 0;
  }
  ++w.entries_listed;
  return 1;
}

void watch(const walk &w) {
  if (w.options.watch != nullptr) w.options.watch(w.options.context);
}

fs_entry_children scan_folder(walk &w, int *count, int depth, bool outermost);

// A folder is kept once: a second way to it, up the path or anywhere else,
// is passed over. Past the ceiling nothing more is listed, so a folder met
// then is not kept either: its content is unknown.
fs_entry_ptr enter_folder(walk &w, const char *name, int depth, const folder_id &folder) {
  if (is_ignored_folder(name)) return nullptr;
  if (on_path(w.folders, folder)) {
    print_path(text_folder_loop, w.path);
    return nullptr;
  }
  if (!w.scanned.insert(folder).second) {
    print_path(text_folder_again, w.path);
    return nullptr;
  }
  if (w.at_ceiling) return nullptr;
  fs_entry_ptr node = new_entry(name, 0);
  w.folders.push_back(folder);
  node->dir = scan_folder(w, &node->entrys, depth, false);
  w.folders.pop_back();
  return node;
}

// The entry whose path is in w.path: its node, or null when it is not kept.
fs_entry_ptr examine(walk &w, const char *name, int depth) {
  watch(w);
  struct stat buf;
  if (lstat(w.path, &buf) != 0) {
    print_path(text_unreadable, w.path);
    return nullptr;
  }
  if (S_ISLNK(buf.st_mode)) {
    if (!link_stays_inside(w.path, w.boundary)) {
      print_path(text_link_off_disc, w.path);
      return nullptr;
    }
    if (stat(w.path, &buf) != 0) {
      print_path(text_unreadable, w.path);
      return nullptr;
    }
  }
  if (S_ISDIR(buf.st_mode)) return enter_folder(w, name, depth, {buf.st_dev, buf.st_ino});
  if (S_ISREG(buf.st_mode) && is_title_file(w.path)) {
    ++NR_files;
    return new_entry(name, -1);
  }
  return nullptr;
}

// Scans the folder in w.path; depth as open_entry's. The outermost folder
// always shows the final count.
fs_entry_children scan_folder(walk &w, int *count, int depth, bool outermost) {
  ++depth;
  dirent **names = nullptr;
  const bool was_at_ceiling = w.at_ceiling;
  listing_walk = &w;
  int listed = scandir(w.path, &names, within_ceiling, alphasort);
  const util::unique_malloc<dirent *> listing(names);
  listing_walk = nullptr;
  if (listed < 0) {
    print_path(text_unlistable, w.path);
    listed = 0;
  }
  if (w.at_ceiling && !was_at_ceiling) std::printf(text_ceiling, w.entries_listed);
  fs_entry_children children = new_children(listed + 1);
  int kept = 0;
  const std::size_t folder_length = w.length;
  for (int i = 0; i < listed; ++i) {
    const util::unique_malloc<dirent> entry(names[i]);
    const char *name = entry->d_name;
    const std::size_t name_length = std::strlen(name);
    if (is_dot_or_dot_dot(name)) {
      // never kept
    } else if (folder_length + 1 + name_length >= sizeof w.path) {
      std::printf(text_path_too_long, console_escape(w.path).c_str(), console_escape(name).c_str());
    } else {
      w.path[folder_length] = '/';
      std::memcpy(w.path + folder_length + 1, name, name_length + 1);
      w.length = folder_length + 1 + name_length;
      if (fs_entry_ptr node = examine(w, name, depth)) children[kept++] = std::move(node);
      w.path[folder_length] = '\0';
      w.length = folder_length;
    }
  }
  if (depth == album_depth && kept > 2) std::printf(text_many_titles, children[0]->name);
  children[kept] = nullptr;
  *count = kept;
  show_progress(w, outermost);
  return children;
}

}  // namespace

fs_entry_children open_entry(const char *dir, int *count, int depth, const scan_options &options) {
  walk w;
  w.options = options;
  w.last_progress_ns = util::monotonic_ns();
  const std::size_t length = std::strlen(dir);
  if (length >= sizeof w.path) {
    print_path(text_unlistable, dir);  // and counts as empty, like any such folder
    fs_entry_children children = new_children(1);
    *count = 0;
    show_progress(w, true);
    return children;
  }
  std::memcpy(w.path, dir, length + 1);
  w.length = length;
  w.boundary = disc_boundary(dir);
  struct stat buf;
  if (stat(dir, &buf) == 0) {
    w.folders.push_back({buf.st_dev, buf.st_ino});
    w.scanned.insert({buf.st_dev, buf.st_ino});
  }
  return scan_folder(w, count, depth, true);
}
