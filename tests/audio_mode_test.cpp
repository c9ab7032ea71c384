// The audio-CD mode at the keys: what the drive is asked to do and what the
// console and the display say. Driven through discbox-sim. Track addresses:
// the first track starts at 00:02:00 and the tracks follow each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/eventually.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;

class AudioMode : public ::testing::Test {
 protected:
  // Tracks of 3, 30 and 30 seconds: 00:02:00, 00:05:00, 00:35:00; lead-out 01:05:00.
  void start(const std::vector<std::string> &extra = {}) {
    std::vector<std::string> arguments{"--display-log", folder_.file("display"), "--drive-log",
                                       folder_.file("drive")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("audio:3,30,30");
    sim_ = std::make_unique<sim_process>(arguments);
    at_ = sim_->wait_for("init1\n");
    ASSERT_NE(at_, std::string::npos) << sim_->output();
  }

  // Types `keys`, then waits until the console shows `echo`.
  void press(const std::string &keys, const std::string &echo) {
    sim_->type(keys);
    at_ = sim_->wait_for(echo, at_);
    ASSERT_NE(at_, std::string::npos) << sim_->output();
  }

  // Waits until the drive log holds `count` lines that start with `request`.
  bool drive_received(const std::string &request, int count = 1) {
    return eventually(
        [&] {
          auto lines = read_lines(folder_.file("drive"));
          return std::count_if(lines.begin(), lines.end(), [&](const std::string &line) {
                   return line.rfind(request, 0) == 0;
                 }) >= count;
        },
        30s, 50ms);
  }

  temporary_folder folder_;
  std::unique_ptr<sim_process> sim_;
  size_t at_ = 0;
};

TEST_F(AudioMode, EntryShowsTheModeAndPlaysTheWholeDisc) {
  start();
  EXPECT_TRUE(drive_received("PLAYMSF 00:02:00-00:04:74 ok"));  // the test play of track 1
  EXPECT_TRUE(drive_received("PLAYMSF 00:02:00-01:04:74 ok"));
  auto shown = read_lines(folder_.file("display"));
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().substr(0, 19), "|Standard Modus... ");
}

// A floppy anyone may have written is mounted without privilege and given up
// once playback has started.
TEST_F(AudioMode, AFloppyIsMountedInertAndGivenUpAtOnce) {
  const std::string floppy = folder_.file("floppy-disk");
  std::filesystem::create_directory(floppy);
  start({"--floppy", floppy});
  EXPECT_TRUE(drive_received("UMOUNT "));
  const auto lines = read_lines(folder_.file("drive"));
  const auto mount = std::find_if(lines.begin(), lines.end(), [](const std::string &line) {
    return line.rfind("MOUNT /dev/fd0 ", 0) == 0;
  });
  ASSERT_NE(mount, lines.end());
  EXPECT_TRUE(mount->ends_with("/floppy ext2 ro,nosuid,nodev,noexec ok")) << *mount;
  EXPECT_TRUE(std::find(mount, lines.end(), "PLAYMSF 00:02:00-01:04:74 ok") <
              std::find_if(mount, lines.end(),
                           [](const std::string &line) { return line.rfind("UMOUNT ", 0) == 0; }));
}

TEST_F(AudioMode, PauseResumeStopAndPlayDriveTheDrive) {
  start();
  sim_->type("B");
  EXPECT_TRUE(drive_received("PAUSE"));
  sim_->type("b");
  EXPECT_TRUE(drive_received("RESUME"));
  sim_->type("M");
  EXPECT_TRUE(drive_received("STOP", 3));  // two plays stopped what ran before them
  sim_->type("B");                         // stopped: pause does nothing
  sim_->type("N");
  EXPECT_TRUE(drive_received("PLAYMSF 00:02:00-01:04:74 ok", 2));
  sim_->type("X");
  at_ = sim_->wait_for(" eject cd-a\n", at_);
  ASSERT_NE(at_, std::string::npos);
  auto lines = read_lines(folder_.file("drive"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "PAUSE"), 1);
}

TEST_F(AudioMode, KeysThatOnlyTalk) {
  start();
  press("F", " rewind (not yet)\n ");
  press("r", " forward (not yet)\n ");
  press("\r", "unknown KEY\n");
  press("\n?", "unknown KEY\n");  // the newline is ignored, the ? is not
  EXPECT_EQ(sim_->count("unknown KEY\n"), 2u);
}

// Next and previous step from the track that is playing now, not from the
// one that played when the mode began.
TEST_F(AudioMode, NextAndPreviousStepFromTheTrackNowPlaying) {
  start();
  std::this_thread::sleep_for(4s);  // track 1 lasts 3 seconds
  press("E", " next\n ");
  EXPECT_TRUE(drive_received("PLAYMSF 00:35:00-01:04:74 ok"));
  press("a", " previous\n ");
  EXPECT_TRUE(drive_received("PLAYMSF 00:05:00-01:04:74 ok"));
  press("A", " previous\n ");
  EXPECT_TRUE(drive_received("PLAYMSF 00:02:00-01:04:74 ok", 2));
}

TEST_F(AudioMode, NextOnTheLastTrackPlaysNothing) {
  start();
  press("E", " next\n ");
  EXPECT_TRUE(drive_received("PLAYMSF 00:05:00-01:04:74 ok"));
  press("Q", " next\n ");
  EXPECT_TRUE(drive_received("PLAYMSF 00:35:00-01:04:74 ok"));
  press("W", " next\n ");
  press("X", " eject cd-a\n ");
  auto lines = read_lines(folder_.file("drive"));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string &line) { return line.rfind("PLAYMSF", 0) == 0; }),
            4);
}

}  // namespace
