// Ending the MP3-mode process on a fatal error. Not exit(): the other
// threads still run, and its handlers and destructors would pull globals
// from under them; the writer's stream may hold frames for a pipe that
// nobody drains any more, so flushing it could block.
#include "mp3/mode_exit.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace {

struct exit_undo {
  void (*undo)(void *) = nullptr;
  void *context = nullptr;
};
std::mutex undo_lock;
exit_undo registered;  // under undo_lock

}  // namespace

void at_mode_exit(void (*undo)(void *context), void *context) {
  const std::lock_guard<std::mutex> hold(undo_lock);
  registered = {undo, context};
}

void end_mode_process(int status) {
  exit_undo pending;
  {
    const std::lock_guard<std::mutex> hold(undo_lock);
    pending = registered;
  }
  if (pending.undo != nullptr) pending.undo(pending.context);
  std::fflush(stdout);
  _exit(status);
}
