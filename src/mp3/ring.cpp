// Making and freeing the frame ring and its semaphores, side by side, so
// that each free undoes exactly one make.
#include "mp3/ring.h"

#include <semaphore.h>

#include <cstdio>
#include <cstdlib>

#include "ctl/ctl.h"

namespace {

constexpr char text_semaphore_failed[] = "Problems during semaphore init.\n";

// The order in which the semaphores are made and reported.
sem_t **const ring_semaphores[] = {&openS, &pauseS, &readS, &writeS};
constexpr int ring_semaphore_count = sizeof ring_semaphores / sizeof ring_semaphores[0];
// Only a semaphore that sem_init accepted may be destroyed.
bool semaphore_ready[ring_semaphore_count] = {};

}  // namespace

void make_ring() {
  for (int slot = 0; slot < ring_slots; ++slot) {
    // Zeroed: a slot that a short read filled only in part holds no leftovers
    // of uninitialised memory, and the first write (slot 0) sends nothing.
    buffer[slot] = static_cast<unsigned char *>(std::calloc(slot_bytes, 1));
    frame_size[slot] = static_cast<int *>(std::calloc(1, sizeof(int)));
  }
}

void free_ring() {
  for (int slot = 0; slot < ring_slots; ++slot) {
    std::free(buffer[slot]);
    std::free(frame_size[slot]);
    buffer[slot] = nullptr;
    frame_size[slot] = nullptr;
  }
}

void make_ring_semaphores() {
  for (int i = 0; i < ring_semaphore_count; ++i) {
    sem_t *semaphore = static_cast<sem_t *>(std::malloc(sizeof(sem_t)));
    *ring_semaphores[i] = semaphore;
    semaphore_ready[i] = semaphore != nullptr && sem_init(semaphore, 0, 0) == 0;
    if (!semaphore_ready[i]) std::fputs(text_semaphore_failed, stdout);
  }
}

void free_ring_semaphores() {
  for (int i = 0; i < ring_semaphore_count; ++i) {
    if (semaphore_ready[i]) sem_destroy(*ring_semaphores[i]);
    semaphore_ready[i] = false;
    std::free(*ring_semaphores[i]);
    *ring_semaphores[i] = nullptr;
  }
}
