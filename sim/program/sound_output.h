// --sound: the PC's sound output in place of the silent stand-ins. The real
// decoder (the project's mpg123 wrapper) and the real PCM player (aplay)
// play MP3 titles and digitally read CDs; the emulated drive's analog
// output, while it plays an audio CD itself, goes to the sound output too.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include "program/options.h"

namespace sim {

// Tries the sound output (ALSA's default device, or SOUND_DEVICE) once. When
// it works, sets the machine's decoder and PCM player to the real ones
// (where they are the bundled stand-ins) and returns true; otherwise prints
// one line why and leaves the machine silent.
bool choose_sound_output(sim_options &options);

// Starts the process that plays the drive's analog output, in the player's
// process group, so that it ends with the player's processes. -1 on failure.
pid_t start_analog_output(pid_t player_group, const sigset_t &original_mask);

}  // namespace sim
