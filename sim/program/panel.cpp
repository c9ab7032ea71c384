#include "program/panel.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "console/console_text.h"

namespace sim {

namespace {

// Frame, two lines, frame, then the status rows: drive, decoder, keys.
constexpr int drive_row = 5;
constexpr int decoder_row = 6;
constexpr int keys_row = 7;
constexpr int panel_rows = keys_row;

void write_all(const std::string &text) {
  const char *data = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t written = write(STDOUT_FILENO, data, left);
    if (written <= 0) return;
    data += written;
    left -= static_cast<size_t>(written);
  }
}

// Cuts `text` to at most `room` bytes, never inside a UTF-8 sequence.
void cut_to(std::string &text, std::size_t room) {
  if (text.size() <= room) return;
  std::size_t cut = room;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
}

// Cuts `cells` to the first `room` characters (UTF-8), one terminal column
// each.
void cut_to_columns(std::string &cells, std::size_t room) {
  std::size_t at = 0;
  for (std::size_t column = 0; at < cells.size(); ++at) {
    if ((static_cast<unsigned char>(cells[at]) & 0xC0) == 0x80) continue;
    if (column++ == room) break;
  }
  cells.resize(at);
}

// A display line is the glass (display.h): printable glyphs only, whatever
// bytes a disc's names put in display RAM. It is cut at the terminal's edge,
// so that it cannot wrap into the line below, and the frame's right edge is
// drawn where the terminal has room for it.
std::string drawn_line(const std::string &line, int row, unsigned int width) {
  std::string shown = line;
  cut_to_columns(shown, width > 2 ? width - 2 : 0);
  const std::string at = "\033[" + std::to_string(row) + ";";
  std::string text = at + "2H" + shown + "\033[K";
  if (width >= display_columns + 2) text += at + std::to_string(display_columns + 2) + "H|";
  return text;
}

}  // namespace

terminal_panel::terminal_panel() {
  winsize size{};
  if (!isatty(STDOUT_FILENO) || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 ||
      size.ws_row < panel_rows + 3) {
    return;
  }
  active_ = true;
  width_ = size.ws_col;
  std::string frame = "+" + std::string(display_columns, '-') + "+";
  // Clear the screen, draw the frame, keep the rows below it as the
  // scrolling region for the console lines, and put the cursor there.
  write_all("\033[2J\033[1;1H" + frame + "\r\n|" + std::string(display_columns, ' ') + "|\r\n|" +
            std::string(display_columns, ' ') + "|\r\n" + frame + "\033[" +
            std::to_string(panel_rows + 1) + ";" + std::to_string(size.ws_row) + "r\033[" +
            std::to_string(panel_rows + 1) + ";1H");
}

terminal_panel::~terminal_panel() {
  if (active_) write_all("\0337\033[r\0338\r\n");
}

void terminal_panel::show_status(const std::string &drive, const std::string &decoder,
                                 const std::string &keys) {
  if (!active_) return;
  show_row(drive_row, drive, drive_);
  show_row(decoder_row, decoder, decoder_);
  show_row(keys_row, keys, keys_);
}

// Titles come from the disc: control bytes reach the terminal as escapes,
// and never more than a row, so that the panel does not scroll.
void terminal_panel::show_row(int row, const std::string &text, std::string &shown) {
  std::string line = console_escape(text);
  cut_to(line, width_);
  if (line == shown) return;
  shown = line;
  write_all("\0337\033[" + std::to_string(row) + ";1H\033[2K" + line + "\0338");
}

void terminal_panel::draw(const display_snapshot &view) {
  if (!active_) return;
  write_all("\0337" + drawn_line(view.line1, 2, width_) + drawn_line(view.line2, 3, width_) +
            "\0338");
}

}  // namespace sim
