// What the stand-in players (frame-sink, pcm-sink) do with files: settings
// from the environment, and appending what they received, their times and
// their process id to files a test names. Each tool passes its own name for
// its messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sink {

// The variable's value, or "" when it is not set.
std::string from_environment(const char *name);

// A descriptor appending to `path`, or -1 when `path` is empty or cannot be
// opened (said on standard error).
int open_append(const char *tool, const std::string &path);

// Writes every byte, retrying after signals; gives up silently on an error
// and when `fd` is -1, so that a sink never fails its player over a file.
void write_all(int fd, const void *data, std::size_t count);

// Appends this process's id, one line, to `path` (nothing when it is empty).
void write_pid_file(const char *tool, const std::string &path);

// Appends "<monotonic ns> <bytes so far>" to `fd`, and " <bytes played>"
// when `played` is given.
void write_times_line(int fd, std::int64_t now, std::uint64_t received,
                      std::optional<std::uint64_t> played = std::nullopt);

// A speed factor: a number from 0 to 1e6, the whole text.
bool parse_speed(const std::string &text, double &speed);

}  // namespace sink
