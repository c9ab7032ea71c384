#include "program/panel.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

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

// Display RAM may hold any byte; the terminal shows the printable ones.
std::string printable(const std::string &line) {
  std::string shown = line;
  for (char &c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
  }
  return shown;
}

}  // namespace

Panel::Panel() {
  winsize size{};
  if (!isatty(STDOUT_FILENO) || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 ||
      size.ws_row < panel_rows + 3) {
    return;
  }
  active_ = true;
  columns_ = size.ws_col;
  std::string frame = "+" + std::string(display_columns, '-') + "+";
  // Clear the screen, draw the frame, keep the rows below it as the
  // scrolling region for the console lines, and put the cursor there.
  write_all("\033[2J\033[1;1H" + frame + "\r\n|" + std::string(display_columns, ' ') + "|\r\n|" +
            std::string(display_columns, ' ') + "|\r\n" + frame + "\033[" +
            std::to_string(panel_rows + 1) + ";" + std::to_string(size.ws_row) + "r\033[" +
            std::to_string(panel_rows + 1) + ";1H");
}

Panel::~Panel() {
  if (active_) write_all("\0337\033[r\0338\r\n");
}

void Panel::show_status(const std::string &drive, const std::string &decoder,
                        const std::string &keys) {
  if (!active_) return;
  show_row(drive_row, drive, drive_);
  show_row(decoder_row, decoder, decoder_);
  show_row(keys_row, keys, keys_);
}

// Titles come from the disc: only printable bytes reach the terminal, and
// never more than a row, so that the panel does not scroll.
void Panel::show_row(int row, const std::string &text, std::string &shown) {
  std::string line = printable(text).substr(0, static_cast<size_t>(columns_));
  if (line == shown) return;
  shown = line;
  write_all("\0337\033[" + std::to_string(row) + ";1H\033[2K" + line + "\0338");
}

void Panel::draw(const DisplayView &view) {
  if (!active_) return;
  write_all("\0337\033[2;2H" + printable(view.line1) + "\033[3;2H" + printable(view.line2) +
            "\0338");
}

}  // namespace sim
