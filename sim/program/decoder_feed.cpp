// Watching the decoder's feed from /proc: which title the player's
// processes read and how far, counted in frames.
#include "program/decoder_feed.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "mp3/mpeg_header.h"
#include "util/unique_handle.h"

namespace sim {

namespace {

bool is_number(const char *name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// The process group from /proc/PID/stat ("pid (comm) state ppid pgrp ...");
// the command name may hold blanks and parentheses, the last ')' ends it.
pid_t group_of(const std::string &pid) {
  const util::unique_file stat_file(std::fopen(("/proc/" + pid + "/stat").c_str(), "r"));
  if (!stat_file) return -1;
  char text[512];
  const size_t length = std::fread(text, 1, sizeof text - 1, stat_file.get());
  text[length] = '\0';
  const char *end_of_name = nullptr;
  for (const char *cursor = text; *cursor != '\0'; ++cursor) {
    if (*cursor == ')') end_of_name = cursor;
  }
  char state;
  int parent = -1, group = -1;
  if (end_of_name == nullptr ||
      std::sscanf(end_of_name + 1, " %c %d %d", &state, &parent, &group) != 3) {
    return -1;
  }
  return group;
}

long reading_position(const std::string &fd_info) {
  const util::unique_file info(std::fopen(fd_info.c_str(), "r"));
  long position = -1;
  if (info && std::fscanf(info.get(), "pos: %ld", &position) != 1) position = -1;
  return position;
}

}  // namespace

std::vector<long> title_frame_ends(const std::string &path, long limit) {
  std::vector<long> ends;
  const util::unique_file title(std::fopen(path.c_str(), "rb"));
  if (!title) return ends;
  std::uint8_t start[id3v2_header_length] = {};
  long offset = 0;
  if (std::fread(start, 1, sizeof start, title.get()) == sizeof start) {
    offset = id3v2_tag_length(start);
  }
  std::uint8_t header[4];
  while (offset < limit && std::fseek(title.get(), offset, SEEK_SET) == 0 &&
         std::fread(header, 1, sizeof header, title.get()) == sizeof header) {
    const unsigned int length = mpeg_header_size(header);
    if (!mpeg_frame_length_usable(length)) break;
    offset += length;
    ends.push_back(offset);
  }
  // A last frame cut short is not a frame.
  if (std::fseek(title.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(title.get());
    while (!ends.empty() && ends.back() > size) ends.pop_back();
  }
  return ends;
}

int frames_before(const std::vector<long> &frame_ends, long position) {
  return static_cast<int>(std::upper_bound(frame_ends.begin(), frame_ends.end(), position) -
                          frame_ends.begin());
}

bool find_open_title(pid_t group, const std::string &disc_folder, std::string &path,
                     long &position) {
  if (disc_folder.empty()) return false;
  const std::string prefix = disc_folder + "/";
  bool found = false;
  const util::unique_dir processes(opendir("/proc"));
  if (!processes) return false;
  while (dirent *process = readdir(processes.get())) {
    if (!is_number(process->d_name)) continue;
    const std::string pid = process->d_name;
    if (group_of(pid) != group) continue;
    const std::string fd_folder = "/proc/" + pid + "/fd";
    const util::unique_dir descriptors(opendir(fd_folder.c_str()));
    if (!descriptors) continue;
    while (dirent *descriptor = readdir(descriptors.get())) {
      if (!is_number(descriptor->d_name)) continue;
      char target[PATH_MAX];
      const ssize_t length =
          readlink((fd_folder + "/" + descriptor->d_name).c_str(), target, sizeof target - 1);
      if (length <= 0) continue;
      target[length] = '\0';
      if (std::string_view(target).substr(0, prefix.size()) != prefix) continue;
      const long at = reading_position("/proc/" + pid + "/fdinfo/" + descriptor->d_name);
      if (at < 0 || (found && at <= position)) continue;
      path = target;
      position = at;
      found = true;
    }
  }
  return found;
}

decoder_feed decoder_feed_watch::look(pid_t group, const std::string &disc_folder) {
  decoder_feed feed;
  std::string path;
  long position = 0;
  if (!find_open_title(group, disc_folder, path, position)) return feed;
  if (path != path_) {
    path_ = path;
    frame_ends_ = title_frame_ends(path);
  }
  feed.title = path.substr(disc_folder.size() + 1);
  feed.frames_sent = frames_before(frame_ends_, position);
  feed.frames_in_title = static_cast<int>(frame_ends_.size());
  return feed;
}

}  // namespace sim
