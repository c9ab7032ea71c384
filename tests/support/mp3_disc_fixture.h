// A test that scans an MP3 disc: the machine fixture, plus the MP3 mode's
// library and library position, a display that is on, and a disc made by
// the disc generator, put into the drive and mounted as the player would
// mount it.
#pragma once

#include <string>
#include <vector>

#include "mkdisc/disc_plan.h"
#include "mp3/library.h"
#include "mp3/library_position.h"
#include "support/machine_fixture.h"

class mp3_disc_fixture : public machine_fixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a disc of generator entries ("A/B/x.mp3", "E/", "text:n.txt")
  // into the folder `name` of the test's folder; returns that folder.
  std::string make_disc(const std::vector<std::string> &entries,
                        const mkdisc::title_options &titles = {}, const std::string &name = "disc");
  std::string make_disc(const mkdisc::layout_options &layout, const mkdisc::title_options &titles,
                        const std::string &name = "disc");
  // Puts the disc folder into the drive and mounts it on the mount point.
  void mount(const std::string &disc);
  // Scans the mount point into the library root, as the MP3 mode does, and
  // points the position at it.
  fs_entry &scan();

  static std::vector<std::string> names(const fs_entry &folder);
  static std::string mpeg_bytes(unsigned char b2);  // a 417-byte frame start with FF FB b2
  std::string mount_point() const;

  fs_entry root_node_;
  library_position position_;
};

// Lines of `output` that start with `prefix`.
std::vector<std::string> lines_starting(const std::string &output, const std::string &prefix);

// Takes away root's power to read past file permissions, so that a folder's
// mode bits apply in this process. For death-test children only.
void lose_permission_override();
