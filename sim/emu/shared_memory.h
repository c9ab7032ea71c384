// Emulator state that every process of the program sees.
//
// The MP3 mode runs in a forked child and writes the display and the drive
// too, so the emulated hardware must not be copied on fork: each emulator
// keeps its state in a MAP_SHARED mapping, made before the first fork, and
// guards it with a process-shared mutex.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace sim {

// A zeroed MAP_SHARED anonymous mapping of `size` bytes. Aborts when the
// mapping cannot be made: the emulators cannot run without it.
void *map_shared(std::size_t size);

template <class T>
T *make_shared_object() {
  return new (map_shared(sizeof(T))) T();
}

// A mutex that works across processes; it lives inside a shared mapping.
class process_mutex {
 public:
  process_mutex();
  process_mutex(const process_mutex &) = delete;
  process_mutex &operator=(const process_mutex &) = delete;
  void lock();
  void unlock();

 private:
  friend class process_condition;
  pthread_mutex_t mutex_;
};

// A condition variable that works across processes, on the monotonic clock;
// it lives inside a shared mapping.
class process_condition {
 public:
  process_condition();
  process_condition(const process_condition &) = delete;
  process_condition &operator=(const process_condition &) = delete;
  // Waits, with `mutex` held, until notified or the monotonic clock reaches
  // `deadline` (nanoseconds). Wakes may be spurious: callers look again.
  void wait_until(process_mutex &mutex, std::int64_t deadline);
  void notify_all();

 private:
  pthread_cond_t condition_;
};

}  // namespace sim
