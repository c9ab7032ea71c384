// Finds out what the MP3 mode feeds its decoder, from outside the player:
// the title file that one of the player's processes has open on the disc,
// how far it has read, and how many frames that is.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "program/front_status.h"

namespace sim {

// Where each frame of a title ends, from its first frame (after an ID3v2
// tag) to the first bytes that do not start a frame; at most `limit` bytes
// of the file are looked at.
std::vector<long> title_frame_ends(const std::string &path, long limit = 64L << 20);

// The frames that lie wholly before `position`.
int frames_before(const std::vector<long> &frame_ends, long position);

// Looks through the processes of `group` for a file under `disc_folder`
// and returns the one read furthest, with its reading position. False when
// none is open.
bool find_open_title(pid_t group, const std::string &disc_folder, std::string &path,
                     long &position);

// Remembers the frames of the title last seen, so that a refresh reads the
// title file only once.
class decoder_feed_watch {
 public:
  decoder_feed look(pid_t group, const std::string &disc_folder);

 private:
  std::string path_;
  std::vector<long> frame_ends_;
};

}  // namespace sim
