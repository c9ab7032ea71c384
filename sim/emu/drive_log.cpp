// The drive log: one line per request, as the drive understood it, so that a
// test or a person trying the simulator can follow what the player asked.
//
// Several processes append to the same file (the MP3 mode is a child), so
// each line goes out in one write() on a descriptor opened with O_APPEND.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "emu/drive_state.h"
#include "util/unique_fd.h"

namespace sim {

void log_drive_line(const std::string &line) {
  const std::string &path = machine_config().drive_log;
  if (path.empty()) return;
  const util::unique_fd log(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!log) return;
  const std::string text = line + '\n';
  // A log that cannot be written must not change what the drive answers.
  [[maybe_unused]] const ssize_t written = write(log.get(), text.data(), text.size());
}

std::string msf_text(int frames) {
  char text[16];
  const int seconds = frames / frames_per_second;
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 60, seconds % 60,
                frames % frames_per_second);
  return text;
}

}  // namespace sim
