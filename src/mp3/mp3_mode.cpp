// The MP3 mode's set-up: the session's parts, each in its turn (the frame
// pipe, the library scan, the stopped screen, the first selection, the
// semaphores, the writer's stream, the key stream, the pipeline threads and
// the decoder); then the key loop takes over.
#include "mp3/mp3_mode.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <utility>

#include "console/key_channel.h"
#include "console/texts.h"
#include "lcd/lcd.h"
#include "mp3/library.h"
#include "mp3/mode_exit.h"
#include "mp3/mp3_keys.h"
#include "mp3/mp3_session.h"
#include "mp3/print_screen.h"
#include "mp3/selection.h"
#include "platform/platform.h"

namespace {

constexpr char text_mode[] = "mp3 Modus...";
constexpr char text_player_buffer[] = "Player Buffer:";
constexpr char text_kilobytes[] = "kb\n";
constexpr char text_init_pipe[] = "init pipe\n";
constexpr char text_open_cd[] = "Open CD.\n";
constexpr char text_scanning[] = "scan CD content... (may takes some time)";
constexpr char text_artists[] = "Interpreten:";
constexpr char text_albums[] = "  Alben:";
constexpr char text_titles[] = "Titel:";
constexpr char text_stopped_1[] = " Stopped1 %s\n";
constexpr char text_stopped_2[] = " Stopped2 %s\n";
constexpr char text_selected[] = "\n";
constexpr char text_fire_up[] = "fire up mpg123...\n";
constexpr char text_begin[] = "begin...";
constexpr char text_now[] = "now\n";
constexpr char text_setup_failed[] = "mp3 mode cannot start: %s\n";

[[noreturn]] void setup_failed(const char *what) {
  std::printf(text_setup_failed, what);
  end_mode_process(-1);
}

void scan_library(mp3_session &session) {
  int artists = 0;
  scan_options options;
  options.watch = take_keys_during_scan;
  options.context = &session;
  fs_entry_children dir = open_entry(platform::cdrom_mount_point(), &artists, 1, options);
  session.root = fs_entry{artists, std::move(dir), platform::cdrom_mount_point()};
  session.position.root_fs = &session.root;
}

// Titles placed at the artist or album level are not descended into and add
// nothing to the counts below them.
void fill_stopped_screen(mp3_session &session) {
  const fs_entry &root = session.root;
  unsigned int albums = 0, titles = 0;
  for (unsigned int a = 0; a < static_cast<unsigned int>(root.entrys); ++a) {
    const fs_entry &artist = *root.dir[a];
    if (artist.dir == nullptr) continue;
    albums += static_cast<unsigned int>(artist.entrys);
    for (unsigned int b = 0; b < static_cast<unsigned int>(artist.entrys); ++b) {
      if (artist.dir[b]->dir != nullptr) titles += static_cast<unsigned int>(artist.dir[b]->entrys);
    }
  }
  std::snprintf(session.stopped_1, sizeof session.stopped_1, "%s%d%s%u", text_artists, root.entrys,
                text_albums, albums);
  std::snprintf(session.stopped_2, sizeof session.stopped_2, "%s%u", text_titles, titles);
  std::printf(text_stopped_1, session.stopped_1);
  std::printf(text_stopped_2, session.stopped_2);
}

}  // namespace

void main_mpg() {
  // Made here, in the forked child, and ended by leaving (or at the exit
  // that follows it).
  // The pipeline starts in status 1 (playing): nothing flows until M, then N.
  static mp3_session session;
  lcd_init(lcd_port);
  lcd_clear(lcd_port);
  lcd_set_string(lcd_port, text_mode, 1);
  std::printf("%s%s%s", text_player_buffer, decoder_buffer_kilobytes, text_kilobytes);
  std::fputs(text_init_pipe, stdout);
  if (!session.pipeline.open_pipe()) {
    std::fputs(text_unable_to_create_pipe, stdout);
    end_mode_process(1);
  }
  std::fputs(text_open_cd, stdout);
  lcd_set_string(lcd_port, text_scanning, 2);
  scan_library(session);
  fill_stopped_screen(session);
  {
    // No other thread runs yet; the lock is the selection's rule.
    const std::lock_guard<std::mutex> hold(session.position.position_lock);
    open_file(session.position, 1, 1, 1);
  }
  std::fputs(text_selected, stdout);
  session.pipeline.init_semaphores();
  if (!session.pipeline.open_stream()) setup_failed("no stream on the frame pipe");
  session.keys.reset(open_key_stream());
  if (!session.pipeline.start_threads(&session.decoder)) setup_failed("no pipeline threads");
  std::fputs(text_fire_up, stdout);
  session.decoder.start(session.pipeline.take_read_end());
  print_screen(text_begin, "");
  print_screen(text_now, "");
  run_key_loop(session);
}
