// The emulated display drawn on the terminal: a 2x40 panel at the top of
// the screen, the simulator's status lines under it (the drive's front, the
// decoder's feed, the keys), and the player's console lines scrolling
// beneath them.
#pragma once

#include <string>

#include "emu/display.h"

namespace sim {

class terminal_panel {
 public:
  // Draws nothing unless standard output is a terminal.
  terminal_panel();
  ~terminal_panel();
  terminal_panel(const terminal_panel &) = delete;
  terminal_panel &operator=(const terminal_panel &) = delete;

  bool active() const { return active_; }
  void draw(const display_snapshot &view);
  // Rewrites the status lines that changed.
  void show_status(const std::string &drive, const std::string &decoder, const std::string &keys);

 private:
  void show_row(int row, const std::string &text, std::string &shown);

  bool active_ = false;
  unsigned int width_ = 0;  // the terminal's columns
  std::string drive_, decoder_, keys_;
};

}  // namespace sim
