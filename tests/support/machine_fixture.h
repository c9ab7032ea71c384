// A test that runs against the emulated machine. Each test starts from a
// machine reset with no discs, its mount points and drive log in a fresh
// temporary folder of its own, and the folder goes away afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emu/machine.h"

class machine_fixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Makes `discs` the machine's list and resets it: discs[0] is in the drive.
  void load_discs(std::vector<sim::emulated_disc> discs);
  void advance_seconds(double seconds);

  // The test's own folder, and paths in it.
  const std::string &folder() const { return folder_; }
  std::string path(const std::string &name) const { return folder_ + "/" + name; }
  // Creates a file (and its folders) under the test's folder; returns its path.
  std::string write_file(const std::string &name, const std::string &contents);

  // The drive log so far, one entry per line.
  std::vector<std::string> drive_log() const;
  // Open descriptors of this process, for leak checks.
  static int open_descriptors();

  static sim::emulated_disc audio_disc(std::vector<int> track_seconds);
  static sim::emulated_disc data_disc(const std::string &folder);
  static sim::emulated_disc blank_disc();
  static sim::emulated_disc no_disc();

 private:
  std::string folder_;
};
