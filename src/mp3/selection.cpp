// Title selection: checks an artist / album / title position against the
// library, wraps the artist number around the ends, and makes the title
// current: its path in file_name, its names on the display, and an open
// request to the reader. The key loop and the reader thread both select, so
// one lock covers every call.
#include "mp3/selection.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "console/console_text.h"
#include "lcd/lcd.h"
#include "lcd/name_cells.h"
#include "mp3/library.h"
#include "mp3/mode_exit.h"
#include "platform/platform.h"

namespace {

constexpr char text_no_library[] = " wild error open_file !!!! exiting....\n";
constexpr char text_asked[] = "Ainterp%ialbum%ititle%i\n";
constexpr char text_artist_above[] = "interp groesser\n";
constexpr char text_artist_zero[] = "interp kleiner 1\n";
constexpr char text_album_above[] = "alb groesser\n";
constexpr char text_album_zero[] = "alb kleiner 1\n";
constexpr char text_title_above[] = "titl groesser\n";
constexpr char text_title_zero[] = "titl kleiner 1\n";
constexpr char text_file_name[] = "FILENAME: %s\n";
constexpr char text_path_too_long[] = "path too long, not selected: %s/%s/%s\n";
constexpr char text_selected[] = "Binterp%ialbum%ititle%i\n";

// The number of the very last title: last artist, its last album, that
// album's last title. Counts of nodes that are title files (-1) are taken as
// they are; the checks that follow refuse them. An artist without albums has
// no last album to look into.
void last_title(const fs_entry &root, unsigned int &interp, unsigned int &alb, unsigned int &titl) {
  interp = root.entrys;
  const fs_entry &artist = *root.dir[interp - 1];
  if (artist.dir == nullptr) return;
  alb = artist.entrys;
  if (alb == 0) return;
  titl = artist.dir[alb - 1]->entrys;
}

// The names in the display's code, cut to a line each. The clear comes
// first and the patterns next: no cell shows a slot while its pattern
// changes, and the lines show their drawn letters at once.
void show_names(library_position &position, const std::string &line1, const char *line2) {
  const name_cells::screen_cells screen = name_cells::screen_of(line1, line2);
  char *lcd_l1 = position.lcd_l1;
  char *lcd_l2 = position.lcd_l2;
  std::snprintf(lcd_l1, lcd_line_bytes, "%s", screen.lines[0].c_str());
  std::snprintf(lcd_l2, lcd_line_bytes, "%s", screen.lines[1].c_str());
  lcd_clear(lcd_port);
  for (std::size_t slot = 0; slot < screen.patterns.size(); ++slot) {
    lcd_load_pattern(lcd_port, static_cast<unsigned int>(slot), screen.patterns[slot].data());
  }
  lcd_set_string(lcd_port, lcd_l1, 1);
  lcd_set_string(lcd_port, lcd_l2, 2);
}

// Makes the title current. A path that would not fit file_name changes
// nothing: a cut path would name another file.
void accept(library_position &position, unsigned int interp, unsigned int alb, unsigned int titl,
            const fs_entry &artist, const fs_entry &album, const fs_entry &title) {
  char *file_name = position.file_name;
  const int written =
      std::snprintf(file_name, file_name_bytes, "%s/%s/%s/%s", platform::cdrom_mount_point(),
                    artist.name, album.name, title.name);
  if (written < 0 || written >= file_name_bytes) {
    std::printf(text_path_too_long, console_escape(artist.name).c_str(),
                console_escape(album.name).c_str(), console_escape(title.name).c_str());
    return;
  }
  std::printf(text_file_name, console_escape(file_name).c_str());
  position.cur_interpret_ = position.cur_interpret = interp;
  position.cur_album_ = position.cur_album = alb;
  position.cur_title_ = position.cur_title = titl;
  struct stat file_info;
  if (stat(file_name, &file_info) != 0 || !S_ISREG(file_info.st_mode)) return;
  std::printf(text_selected, static_cast<int>(interp), static_cast<int>(alb),
              static_cast<int>(titl));
  show_names(position, std::string(artist.name) + " -- " + album.name, title.name);
}

void select_title(library_position &position, unsigned int interp, unsigned int alb,
                  unsigned int titl) {
  if (position.root_fs == nullptr || position.root_fs->dir == nullptr) {
    std::printf(text_no_library);
    end_mode_process(-1);
  }
  const fs_entry &root = *position.root_fs;
  std::printf(text_asked, static_cast<int>(interp), static_cast<int>(alb), static_cast<int>(titl));
  // An empty library has neither a first nor a last artist to wrap to.
  if (interp > static_cast<unsigned int>(root.entrys) || root.entrys == 0) {
    std::printf(text_artist_above);
    if (root.entrys == 0) return;
    interp = 1;
  }
  if (interp == 0) {
    std::printf(text_artist_zero);
    last_title(root, interp, alb, titl);
  }
  const fs_entry &artist = *root.dir[interp - 1];
  if (artist.dir == nullptr) return;
  if (alb > static_cast<unsigned int>(artist.entrys)) {
    std::printf(text_album_above);
    return;
  }
  if (alb == 0) {
    std::printf(text_album_zero);
    return;
  }
  const fs_entry &album = *artist.dir[alb - 1];
  if (album.dir == nullptr) return;
  if (titl > static_cast<unsigned int>(album.entrys)) {
    std::printf(text_title_above);
    return;
  }
  if (titl == 0) {
    std::printf(text_title_zero);
    return;
  }
  accept(position, interp, alb, titl, artist, album, *album.dir[titl - 1]);
}

}  // namespace

void open_file(library_position &position, unsigned int interp, unsigned int alb,
               unsigned int titl) {
  const std::lock_guard<std::mutex> hold(position.selection_lock);
  select_title(position, interp, alb, titl);
  position.close_input = input_requested;
}
