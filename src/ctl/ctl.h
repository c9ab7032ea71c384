// The program-wide shared state of the player.
//
// One process runs the mode-selection loop and the audio-CD mode; the MP3
// mode runs in a forked child that gets its own copy of all of this. Inside
// that child three threads (key loop, reader, writer) share the words below;
// those that more than one thread reads and writes are atomic, and the
// semaphores stay the only hand-offs between the threads.
#pragma once

#include <semaphore.h>
#include <sys/types.h>

#include <atomic>
#include <cstdio>

class cd;
struct fs_entry;

// The display is always addressed with the first parallel port's base.
inline constexpr unsigned int lcd_port = 888;

// The frame ring: 20 slots, each large enough for any frame the header rule
// accepts.
inline constexpr int ring_slots = 20;
inline constexpr int slot_bytes = 2017;
inline constexpr int file_name_bytes = 1024;
inline constexpr int lcd_line_bytes = 80;

// Values of player_status.
inline constexpr int status_stopped = 0;
inline constexpr int status_playing = 1;
inline constexpr int status_paused = 2;
inline constexpr int status_forward = 3;
inline constexpr int status_rewind = 4;

// Values of close_input: the selection's request to the reader.
inline constexpr int input_current = 0;    // the open title is the selected one
inline constexpr int input_requested = 1;  // a selection waits to be opened
inline constexpr int input_none_yet = 99;  // nothing selected since start-up

extern cd audio;

extern int pipe_keyboard[2];  // slot 1: the key channel, a duplicate of stdin

extern std::atomic<int> player_status;
extern pid_t mpg_pid;    // the decoder's process id once it has started
extern pid_t mpg_pid_p;  // the running decoder's, 0 when none (decoder.h)

// Library position (1-based) and the key loop's pending copy.
extern unsigned int cur_interpret, cur_album, cur_title;
extern unsigned int cur_interpret_, cur_album_, cur_title_;

// Set by the selection, taken by the reader at the start of its next pass.
extern std::atomic<int> close_input;
// Point into the MP3 mode's frame pipeline (pipeline.h) while it exists,
// null otherwise: its ring slots and their length cells, its semaphores,
// the writer's stream and the frame pipe's descriptors (-1 once handed on
// or closed).
extern unsigned char *buffer[ring_slots];
extern int *frame_size[ring_slots];
extern sem_t *readS, *writeS, *pauseS, *openS;
extern std::FILE *write_f;
extern int pipe_data[2];

extern char *file_name;  // file_name_bytes
extern char *lcd_l1;     // lcd_line_bytes
extern char *lcd_l2;     // lcd_line_bytes
extern fs_entry **root_fs;

// The outermost loop of the player: start-up, then wait for a disc, choose
// the mode, run it, eject, forever. discbox's main() is just this.
[[noreturn]] void control_main();
