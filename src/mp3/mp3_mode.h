// The MP3 mode: scan, stopped screen, pipeline threads, decoder, key loop.
// Runs in the child process forked for a mounted data disc; never returns.
#pragma once

[[noreturn]] void main_mpg();
