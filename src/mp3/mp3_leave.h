// Leaving the MP3 mode: the last thing the mode does, from the key loop or
// from the scan.
#pragma once

#include "mp3/mp3_session.h"

// Ends the threads, the frame pipe and the decoder, as far as they exist
// yet (X during the scan comes before any of them), frees the ring and ends
// the MP3-mode process with status 0.
[[noreturn]] void leave_mp3_mode(mp3_session &session);
