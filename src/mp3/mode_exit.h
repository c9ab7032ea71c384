// The one way out of the MP3-mode process on an error it cannot go on from,
// from any of its threads: the scan, the selection, the reader and the
// decoder's start all end here. What must not outlive the mode (the
// decoder) registers its own end, so this unit depends on nothing of the
// mode.
#pragma once

// `undo(context)` runs before the process ends on an error; one at a time,
// a later call replaces it, null removes it. Two threads that fail at once
// both run it, so it must be safe from any thread and more than once, and
// must not call end_mode_process itself.
void at_mode_exit(void (*undo)(void *context), void *context);

// Runs what at_mode_exit registered, flushes stdout and ends the process at
// once with `status`.
[[noreturn]] void end_mode_process(int status);
