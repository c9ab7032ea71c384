// Runs the player on the emulated machine and owns everything around it:
// the terminal, the key relay, the display panel, the time limit, and the
// end of every process the player started.
#pragma once

#include "program/options.h"

namespace sim {

// Returns the simulator's exit status.
int run_simulation(sim_options &options);

}  // namespace sim
