// Ending and reaping the player's processes: its group, and the orphans
// that reach the supervisor as their subreaper, found through /proc.
#include "program/process_sweep.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "util/unique_handle.h"

namespace sim {

namespace {

// The parent's pid from /proc/PID/stat ("pid (comm) state ppid ...").
pid_t parent_of(const char *pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%s/stat", pid);
  const util::unique_file stat_file(std::fopen(path, "r"));
  if (!stat_file) return -1;
  char text[512];
  size_t length = std::fread(text, 1, sizeof text - 1, stat_file.get());
  text[length] = '\0';
  // The command name may hold blanks and parentheses: the last ')' ends it.
  char *end_of_name = nullptr;
  for (char *cursor = text; *cursor != '\0'; ++cursor) {
    if (*cursor == ')') end_of_name = cursor;
  }
  if (end_of_name == nullptr) return -1;
  char state;
  int parent = -1;
  if (std::sscanf(end_of_name + 1, " %c %d", &state, &parent) != 2) return -1;
  return parent;
}

void kill_own_children() {
  const util::unique_dir processes(opendir("/proc"));
  if (!processes) return;
  pid_t self = getpid();
  while (dirent *entry = readdir(processes.get())) {
    char *end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    if (parent_of(entry->d_name) == self) kill(static_cast<pid_t>(pid), SIGKILL);
  }
}

}  // namespace

bool reap_exited_children(pid_t player, int &status) {
  bool player_ended = false;
  for (;;) {
    int child_status = 0;
    pid_t ended = waitpid(-1, &child_status, WNOHANG);
    if (ended <= 0) return player_ended;
    if (ended == player) {
      player_ended = true;
      status = child_status;
    }
  }
}

void end_process_group(pid_t player) {
  for (;;) {
    kill(-player, SIGKILL);
    kill_own_children();
    pid_t ended = waitpid(-1, nullptr, 0);
    if (ended < 0 && errno == ECHILD) return;
  }
}

}  // namespace sim
