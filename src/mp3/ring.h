// The frame ring between the reader and the writer thread: its slots and
// length cells (buffer, frame_size) and the semaphores that hand a slot from
// one thread to the other (openS, pauseS, readS, writeS). They are made and
// freed here and nowhere else; the pipeline only uses them.
#pragma once

// Every slot, zeroed, and its length cell.
void make_ring();
// Frees the slots and cells; only once neither pipeline thread runs.
void free_ring();

// The four semaphores, each at 0; a line on the console for one that cannot
// be made.
void make_ring_semaphores();
// Frees what make_ring_semaphores made, if it ran; only once no thread can
// wait on them or post them.
void free_ring_semaphores();
