// The simulator's status lines under the panel: the drive's front as the
// emulated drive moves through a disc, the keys of the mode that runs, and
// what the MP3 mode feeds its decoder, found from outside the player.
#include <fcntl.h>
#include <linux/cdrom.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "emu/drive.h"
#include "mkdisc/title_audio.h"
#include "platform/disc_mount.h"
#include "platform/platform.h"
#include "program/decoder_feed.h"
#include "program/front_status.h"
#include "support/machine_fixture.h"

namespace {

using sim::player_mode;

class DriveFrontTest : public machine_fixture {
 protected:
  static void play_from_track_one(int fd) {
    cdrom_msf msf{0, 2, 0, 0, 2 + 36, 0};  // 00:02:00 to the lead-out of 12+9+15 s
    ASSERT_EQ(platform::drive_request(fd, CDROMPLAYMSF, &msf), 0);
  }
  static std::string front() { return sim::drive_front_line(sim::drive_view()); }
  static player_mode mode() { return sim::running_mode(sim::drive_view()); }
};

TEST_F(DriveFrontTest, AnAudioCdShowsTrackTimeAndStateAsItPlays) {
  load_discs({audio_disc({12, 9, 15})});
  EXPECT_EQ(front(), "Drive: tray closed, audio CD of 3 tracks, track 1 00:00 stopped");
  EXPECT_EQ(mode(), player_mode::none) << "no mode before the player's first play";

  int fd = platform::drive_open();
  ASSERT_GE(fd, 0);
  play_from_track_one(fd);
  advance_seconds(7.5);
  EXPECT_EQ(front(), "Drive: tray closed, audio CD of 3 tracks, track 1 00:07 playing");
  EXPECT_EQ(mode(), player_mode::audio);
  advance_seconds(6);
  EXPECT_EQ(front(), "Drive: tray closed, audio CD of 3 tracks, track 2 00:01 playing");
  ASSERT_EQ(platform::drive_request(fd, CDROMPAUSE, nullptr), 0);
  advance_seconds(30);
  EXPECT_EQ(front(), "Drive: tray closed, audio CD of 3 tracks, track 2 00:01 paused");
  ASSERT_EQ(platform::drive_request(fd, CDROMRESUME, nullptr), 0);
  advance_seconds(60);
  EXPECT_EQ(front(), "Drive: tray closed, audio CD of 3 tracks, track 3 00:14 stopped")
      << "the head rests on the last frame played";
  EXPECT_EQ(mode(), player_mode::audio) << "the mode runs on after the disc's end";

  ASSERT_EQ(platform::drive_request(fd, CDROMEJECT, nullptr), 0);
  platform::drive_close(fd);
  EXPECT_EQ(front(), "Drive: tray open, no disc");
  EXPECT_EQ(mode(), player_mode::none);
}

TEST_F(DriveFrontTest, OtherDiscsShowTheirKindAndAMountedDataDiscIsTheMp3Mode) {
  std::filesystem::create_directories(path("disc"));
  load_discs({data_disc(path("disc")), blank_disc()});
  EXPECT_EQ(front(), "Drive: tray closed, data disc");
  ASSERT_EQ(platform::mount_filesystem("/dev/sr0", platform::cdrom_mount_point(), "iso9660",
                                       disc_mount_flags),
            0);
  EXPECT_EQ(front(), "Drive: tray closed, data disc (mounted)");
  EXPECT_EQ(mode(), player_mode::mp3);
  EXPECT_EQ(platform::unmount_filesystem(platform::cdrom_mount_point()), 0);

  sim::drive_insert(blank_disc());
  EXPECT_EQ(front(), "Drive: tray closed, unreadable disc");
  EXPECT_EQ(mode(), player_mode::none);
  sim::drive_remove();
  EXPECT_EQ(front(), "Drive: tray closed, no disc");
}

TEST(KeyHelpTest, EachModeListsItsOwnMeanings) {
  const std::string audio = sim::key_help(player_mode::audio);
  const std::string mp3 = sim::key_help(player_mode::mp3);
  EXPECT_NE(audio.find("next track"), std::string::npos);
  EXPECT_EQ(audio.find("artist"), std::string::npos);
  EXPECT_EQ(audio.find("fwd/rew"), std::string::npos) << "R and F do nothing on an audio CD";
  EXPECT_NE(mp3.find("artist"), std::string::npos);
  EXPECT_EQ(mp3.find("track"), std::string::npos);
  EXPECT_NE(std::string(sim::key_help(player_mode::none)), audio);
}

TEST(DecoderLineTest, NamesTheTitleAndItsFrames) {
  EXPECT_EQ(sim::decoder_line({}), "Decoder gets: no title");
  EXPECT_EQ(sim::decoder_line({"A/B/01 x.mp3", 120, 300}),
            "Decoder gets: A/B/01 x.mp3, frame 120 of 300");
}

class TitleFramesTest : public machine_fixture {
 protected:
  std::string write_title(const mkdisc::title_options &options, const std::string &name) {
    const auto bytes = mkdisc::title_bytes(options, {"t", "a", "b"}, 1);
    return write_file(name, std::string(bytes.begin(), bytes.end()));
  }
};

TEST_F(TitleFramesTest, FramesAreCountedByTheHeaderRuleFromTheFirstFrame) {
  mkdisc::title_options options;
  options.frames = 12;
  options.padding = mkdisc::padding_pattern::alternating;
  options.id3v2 = true;
  options.id3v2_padding = 100;
  options.tag = true;
  const std::string title = write_title(options, "tagged.mp3");
  const std::vector<long> ends = sim::title_frame_ends(title);
  ASSERT_EQ(ends.size(), 12u);
  EXPECT_GE(ends[0], 10 + 100 + 417) << "the first frame follows the ID3v2 tag";
  EXPECT_NE(ends[1] - ends[0], ends[2] - ends[1]) << "padded and unpadded frames alternate";
  EXPECT_EQ(sim::frames_before(ends, 0), 0);
  EXPECT_EQ(sim::frames_before(ends, ends[0] - 1), 0);
  EXPECT_EQ(sim::frames_before(ends, ends[0]), 1);
  EXPECT_EQ(sim::frames_before(ends, ends[4] + 10), 5);
  EXPECT_EQ(sim::frames_before(ends, std::filesystem::file_size(title)), 12);
}

TEST_F(TitleFramesTest, ACutLastFrameJunkAndAMissingFileCountNoFurther) {
  mkdisc::title_options options;
  options.frames = 6;
  options.partial_tail = 50;
  EXPECT_EQ(sim::title_frame_ends(write_title(options, "cut.mp3")).size(), 6u);
  options.partial_tail = 0;
  options.insertions.push_back({3, 40, false});
  EXPECT_EQ(sim::title_frame_ends(write_title(options, "junk.mp3")).size(), 3u);
  EXPECT_TRUE(sim::title_frame_ends(path("none.mp3")).empty());
}

// A stand-in for the MP3-mode process: a group of its own, a folder of the
// disc held open (as the library scan does), a file outside the disc, and
// the title read to `position`.
pid_t start_reader(const std::string &disc, const std::string &outside, long position, int ready) {
  pid_t child = fork();
  if (child != 0) return child;
  setpgid(0, 0);
  int folder = open(disc.c_str(), O_RDONLY | O_DIRECTORY);
  int other = open(outside.c_str(), O_RDONLY);
  std::FILE *title = std::fopen((disc + "/Artist/Album/01 Song.mp3").c_str(), "rb");
  if (folder < 0 || other < 0 || title == nullptr || lseek(other, 4000, SEEK_SET) < 0 ||
      std::fseek(title, position, SEEK_SET) != 0 || std::fgetc(title) == EOF) {
    _exit(1);
  }
  char byte = 1;
  if (write(ready, &byte, 1) != 1) _exit(1);
  pause();
  _exit(0);
}

TEST_F(TitleFramesTest, TheFeedIsTheTitleFileThatThePlayersGroupReads) {
  mkdisc::title_options options;
  options.frames = 20;
  write_title(options, "disc/Artist/Album/01 Song.mp3");
  const std::string outside = write_file("outside.mp3", std::string(8000, 'x'));
  const std::string disc = std::filesystem::canonical(path("disc"));
  const std::vector<long> ends = sim::title_frame_ends(disc + "/Artist/Album/01 Song.mp3");
  ASSERT_EQ(ends.size(), 20u);

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t reader = start_reader(disc, outside, ends[6] + 1, ready[1]);
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the reader could not open its files";
  close(ready[0]);

  sim::decoder_feed_watch watch;
  const sim::decoder_feed feed = watch.look(reader, disc);
  kill(reader, SIGKILL);
  waitpid(reader, nullptr, 0);
  EXPECT_EQ(feed.title, "Artist/Album/01 Song.mp3");
  // stdio reads ahead of the byte the reader asked for, by up to its buffer.
  EXPECT_GE(feed.frames_sent, 7);
  EXPECT_LE(feed.frames_sent, 20);
  EXPECT_EQ(feed.frames_in_title, 20);

  EXPECT_TRUE(watch.look(reader, disc).title.empty()) << "the group has ended";
  EXPECT_TRUE(watch.look(getpgrp(), "").title.empty()) << "no disc folder, no feed";
}

}  // namespace
