// The simulator's command line.
#pragma once

#include <string>

#include "emu/machine.h"

namespace sim {

struct sim_options {
  machine_configuration machine;  // discs, logs, floppy, decoder (mount points are set later)
  double run_for_seconds = 0;     // 0: run until Ctrl-C or a signal
  bool sound = false;             // play out loud on the PC's sound output
  // --lcd-rom: the ROM the player is told (LCD_ROM) along with the module's;
  // null: the player reads LCD_ROM from the simulator's environment.
  const char *lcd_rom = nullptr;
};

// Parses argv into `options`. On a bad command line prints the problem and
// the usage to standard error and returns 2; for --help prints the usage to
// standard output and returns 0; returns -1 when the simulation should run.
int parse_options(int argc, char **argv, sim_options &options);

}  // namespace sim
