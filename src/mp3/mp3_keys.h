// The MP3 mode's key loop, and the look at the keys that the library scan
// takes while it runs. Either leaves the mode on X.
#pragma once

#include "mp3/mp3_session.h"

[[noreturn]] void run_key_loop(mp3_session &session);

// The scan's watch (scan_options): takes the keys typed so far off the key
// channel, at most every tenth of a second. X leaves the mode at once; any
// other key waits for the key loop.
void take_keys_during_scan(void *session);
