// Ending and reaping the processes the player started.
#pragma once

#include <sys/types.h>

namespace sim {

// Reaps every child that has ended, without waiting. Returns true when the
// player was among them, with its wait status in `status`.
bool reap_exited_children(pid_t player, int &status);

// Kills the player's process group and every other child of this process
// (orphans reach us as the subreaper), and reaps them all.
void end_process_group(pid_t player);

}  // namespace sim
