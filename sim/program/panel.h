// The emulated display drawn on the terminal: a 2x40 panel at the top of
// the screen, with the player's console lines scrolling beneath it.
#pragma once

#include "emu/display.h"

namespace sim {

class Panel {
 public:
  // Draws nothing unless standard output is a terminal.
  Panel();
  ~Panel();
  Panel(const Panel &) = delete;
  Panel &operator=(const Panel &) = delete;

  bool active() const { return active_; }
  void draw(const DisplayView &view);

 private:
  bool active_ = false;
  unsigned int width_ = 0;  // the terminal's columns
};

}  // namespace sim
