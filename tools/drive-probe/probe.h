// The drive probe: one fixed sequence of the drive requests the player
// issues, each answer printed as a line in the drive log's form (the request,
// what was asked or answered, then the errno name or "= value"), followed by
// the fields the drive filled in. Run once against a real kernel's drive and
// once against the emulated one, the two transcripts must read the same.
#pragma once

#include <cstdio>

namespace drive_probe {

// "empty": opening a drive that holds no disc. "disc": the table of
// contents, a play and the audio status on a data disc, pause, resume and
// stop, door lock and eject, and reopening with auto-close on and off.
// Returns 0, or 2 for an unknown scenario.
int run(const char *scenario, std::FILE *out);

}  // namespace drive_probe
