#include "emu/shared_memory.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace sim {

void *map_shared(std::size_t size) {
  void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) {
    std::perror("emulator: shared mapping");
    std::abort();
  }
  return block;
}

SharedMutex::SharedMutex() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  // A process killed while it holds the lock (the simulator ends its
  // children with SIGKILL) must not wedge the others.
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutex_init(&mutex_, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void SharedMutex::lock() {
  if (pthread_mutex_lock(&mutex_) == EOWNERDEAD) pthread_mutex_consistent(&mutex_);
}

void SharedMutex::unlock() { pthread_mutex_unlock(&mutex_); }

}  // namespace sim
