#include "emu/shared_memory.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace sim {

void *map_shared(std::size_t size) {
  void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) {
    std::perror("emulator: shared mapping");
    std::abort();
  }
  return block;
}

process_mutex::process_mutex() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  // A process killed while it holds the lock (the simulator ends its
  // children with SIGKILL) must not wedge the others.
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&mutex_, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void process_mutex::lock() {
  if (pthread_mutex_lock(&mutex_) == EOWNERDEAD) pthread_mutex_consistent(&mutex_);
}

void process_mutex::unlock() { pthread_mutex_unlock(&mutex_); }

process_condition::process_condition() {
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&condition_, &attributes);
  pthread_condattr_destroy(&attributes);
}

void process_condition::wait_until(process_mutex &mutex, std::int64_t deadline) {
  const timespec until{static_cast<time_t>(deadline / 1000000000),
                       static_cast<long>(deadline % 1000000000)};
  if (pthread_cond_timedwait(&condition_, &mutex.mutex_, &until) == EOWNERDEAD) {
    pthread_mutex_consistent(&mutex.mutex_);
  }
}

void process_condition::notify_all() { pthread_cond_broadcast(&condition_); }

}  // namespace sim
