// The MP3 mode's key loop: one key at a time moves the pending library
// position, steers the pipeline through its methods, or leaves the mode. A key is handled whole
// under the position lock, so the reader's move to the next title never interleaves with it. Keys
// typed during the library scan were taken off the channel then (X at once) and come first, in the
// order typed.
#include "mp3/mp3_keys.h"

#include <poll.h>
#include <unistd.h>

#include <cctype>

#include "console/key_channel.h"
#include "console/texts.h"
#include "lcd/lcd.h"
#include "mp3/mp3_leave.h"
#include "mp3/pipeline.h"
#include "mp3/print_screen.h"
#include "util/clock.h"

namespace {

constexpr char text_next_artist[] = " next ipret\n ";
constexpr char text_previous_artist[] = " prev ipret\n ";
constexpr char text_next_album[] = " next album\n ";
constexpr char text_previous_album[] = " prev album\n ";
constexpr char text_next_title[] = " next title\n ";
constexpr char text_previous_title[] = " prev title\n ";
constexpr char text_forward[] = " forward\n ";
constexpr char text_rewind[] = " rewind\n ";
constexpr char text_start[] = " start\n ";
constexpr char text_pause[] = " pause\n ";
constexpr char text_stop[] = " stop \n ";

// The scan looks at its keys this often: X leaves well within a second.
constexpr std::int64_t key_look_interval_ns = 100'000'000;
// What a terminal's input queue holds; keys beyond it are dropped, as the
// terminal would drop them, but X is still seen.
constexpr std::size_t early_keys_limit = 4096;

bool is_leave_key(int key) { return key == 'x' || key == 'X'; }

int next_key(mp3_session &session) {
  if (session.early_keys_taken < session.early_keys.size()) {
    return static_cast<unsigned char>(session.early_keys[session.early_keys_taken++]);
  }
  if (!session.early_keys.empty()) {
    session.early_keys.clear();
    session.early_keys.shrink_to_fit();
    session.early_keys_taken = 0;
  }
  return read_key(session.keys.get());
}

void pause_or_resume(frame_pipeline &pipeline) {
  if (pipeline.status() == status_playing) {
    pipeline.pause();
  } else {
    pipeline.resume();
  }
}

void stop(mp3_session &session) {
  session.pipeline.stop();
  library_position &position = session.position;
  position.cur_interpret_ = position.cur_album_ = position.cur_title_ = 1;
  lcd_clear(lcd_port);
  lcd_set_string(lcd_port, session.stopped_1, 1);
  lcd_set_string(lcd_port, session.stopped_2, 2);
}

// Acts on one key byte; true when the pending position is to be selected.
bool act_on_key(int key, mp3_session &session) {
  library_position &position = session.position;
  unsigned int &cur_interpret_ = position.cur_interpret_;
  unsigned int &cur_album_ = position.cur_album_;
  unsigned int &cur_title_ = position.cur_title_;
  bool open_new_track = false;
  const char *text = text_unknown_key;
  switch (std::tolower(key)) {
    case 'q':
      ++cur_interpret_;
      cur_album_ = 1;
      cur_title_ = 1;
      open_new_track = true;
      text = text_next_artist;
      break;
    case 'a':
      --cur_interpret_;
      cur_album_ = 1;
      cur_title_ = 1;
      open_new_track = true;
      text = text_previous_artist;
      break;
    case 'w':
      ++cur_album_;
      cur_title_ = 1;
      open_new_track = true;
      text = text_next_album;
      break;
    case 's':
      --cur_album_;
      cur_title_ = 1;
      open_new_track = true;
      text = text_previous_album;
      break;
    case 'e':
      ++cur_title_;
      open_new_track = true;
      text = text_next_title;
      break;
    case 'd':
      --cur_title_;
      open_new_track = true;
      text = text_previous_title;
      break;
    case 'r':
      print_screen(text_forward, "");
      session.pipeline.forward();
      return false;
    case 'f':
      print_screen(text_rewind, "");
      session.pipeline.rewind();
      return false;
    case 'n':
      open_new_track = session.pipeline.play();
      text = text_start;
      break;
    case 'b':
      pause_or_resume(session.pipeline);
      text = text_pause;
      break;
    case 'm':
      stop(session);
      text = text_stop;
      break;
  }
  print_screen(text, "");
  return open_new_track;
}

}  // namespace

void take_keys_during_scan(void *context) {
  mp3_session &session = *static_cast<mp3_session *>(context);
  const std::int64_t now = util::monotonic_ns();
  if (session.last_key_look_ns != 0 && now - session.last_key_look_ns < key_look_interval_ns) {
    return;
  }
  session.last_key_look_ns = now;
  // The key stream is opened after the scan: the channel holds every key
  // typed.
  pollfd channel{pipe_keyboard[1], POLLIN, 0};
  while (poll(&channel, 1, 0) > 0 && (channel.revents & POLLIN) != 0) {
    unsigned char keys[64];
    const ssize_t got = read(channel.fd, keys, sizeof keys);
    if (got <= 0) return;
    for (ssize_t i = 0; i < got; ++i) {
      if (is_leave_key(keys[i])) leave_mp3_mode(session);
      if (session.early_keys.size() < early_keys_limit) {
        session.early_keys += static_cast<char>(keys[i]);
      }
    }
  }
}

void run_key_loop(mp3_session &session) {
  library_position &position = session.position;
  for (;;) {
    const int key = next_key(session);
    if (is_leave_key(key)) leave_mp3_mode(session);
    const std::lock_guard<std::mutex> hold(position.position_lock);
    position.cur_interpret_ = position.cur_interpret;
    position.cur_album_ = position.cur_album;
    position.cur_title_ = position.cur_title;
    if (key > 0 && key != '\n' && act_on_key(key, session)) {
      session.pipeline.select(position.cur_interpret_, position.cur_album_, position.cur_title_);
    }
    position.cur_interpret = position.cur_interpret_;
    position.cur_album = position.cur_album_;
    position.cur_title = position.cur_title_;
  }
}
