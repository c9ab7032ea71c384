// The control loop: the one process that waits for a disc, runs the mode the
// disc asks for and ejects it again. What it shares with the modes lives with
// its owner below this folder: the drive controller `audio` (audio/cd.h), the
// key channel (console/key_channel.h); the MP3 mode's state lives in the mode
// (mp3/mp3_session.h).
#pragma once

// The outermost loop of the player: start-up, then wait for a disc, choose
// the mode, run it, eject, forever. discbox's main() is just this.
[[noreturn]] void control_main();
