// The drive controller against the emulated drive: finding a disc, play
// ranges, status, random order, eject and the disc swap.
#include "audio/cd.h"

#include <algorithm>
#include <optional>
#include <set>

#include "emu/drive.h"
#include "platform/disc_mount.h"
#include "platform/platform.h"
#include "support/machine_fixture.h"

namespace {

class CdTest : public machine_fixture {
 protected:
  void TearDown() override {
    if (player) player->close();
    machine_fixture::TearDown();
  }

  cd &start(std::vector<sim::emulated_disc> discs) {
    load_discs(std::move(discs));
    return player.emplace();
  }

  std::string last_play() const {
    const auto lines = drive_log();
    const auto found = std::find_if(lines.rbegin(), lines.rend(), [](const std::string &line) {
      return line.starts_with("PLAYMSF");
    });
    return found == lines.rend() ? "" : *found;
  }

  // The track whose start the drive was last asked to play, on a disc whose
  // tracks all last `seconds`.
  static int played_track(int seconds) {
    return (sim::drive_view().play_start_frame - 150) / (seconds * 75) + 1;
  }

  std::optional<cd> player;
};

TEST_F(CdTest, EmptyDriveIsPolledButNothingIsPlayed) {
  cd &drive = start({});
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(drive.inside(), 0);
  EXPECT_EQ(drive.play(1), 0);
  EXPECT_EQ(drive.eject(), 0);
  EXPECT_EQ(drive.next(), 1);
  // The constructor tries twice, the status query and eject once each.
  EXPECT_EQ(drive_log(), std::vector<std::string>(4, "OPEN ENOMEDIUM"));

  // A disc put in later is found, its contents read, its status asked.
  sim::drive_insert(audio_disc({60, 60, 60}));
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(drive.inside(), 1);
  EXPECT_EQ(drive.tracks(), 3);
  EXPECT_EQ(drive.current(), 1);
  EXPECT_EQ(drive_log().back(), "SUBCHNL no-status track 1");
}

TEST_F(CdTest, DataDiscHasATrackButDoesNotPlay) {
  write_file("disc/artist/album/title.mp3", std::string(5000, 'x'));
  cd &drive = start({data_disc(path("disc"))});
  EXPECT_EQ(drive.tracks(), 1);
  EXPECT_EQ(drive.play(1), 0);
  EXPECT_TRUE(last_play().starts_with("PLAYMSF 00:02:00-")) << last_play();
  EXPECT_TRUE(last_play().ends_with(" EIO")) << last_play();
}

TEST_F(CdTest, PlayRangesEndOneFrameBeforeWhatFollows) {
  // Tracks start at 00:02:00, 12:00:00 and 12:34:00; the lead-out at 13:34:00.
  cd &drive = start({audio_disc({718, 34, 60})});
  EXPECT_EQ(drive.play(1), 1);
  EXPECT_EQ(last_play(), "PLAYMSF 00:02:00-11:59:74 ok");
  EXPECT_EQ(drive.play(2), 1);
  EXPECT_EQ(last_play(), "PLAYMSF 12:00:00-12:33:74 ok");
  EXPECT_EQ(drive.play(0, 3), 1);
  EXPECT_EQ(last_play(), "PLAYMSF 00:02:00-13:33:74 ok");

  // An end ahead of the start reaches the drive, which refuses it.
  EXPECT_EQ(drive.play(3, 1), 0);
  EXPECT_EQ(last_play(), "PLAYMSF 12:34:00-11:59:74 EIO");

  // Tracks the disc does not have never reach the drive.
  const auto requests = drive_log().size();
  EXPECT_EQ(drive.play(4), 0);
  EXPECT_EQ(drive.play(1, 4), 0);
  EXPECT_EQ(drive.play(-1, 2), 0);
  EXPECT_EQ(drive.play(1, -1), 0);
  EXPECT_EQ(drive_log().size(), requests);
}

TEST_F(CdTest, StatusMirrorsTheDrive) {
  cd &drive = start({audio_disc({60, 60, 60})});
  drive.play(2);
  advance_seconds(30);
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(drive.current(), 2);
  EXPECT_EQ(drive.playing(), 1);

  drive.pause();
  drive.read_status();
  EXPECT_EQ(drive.paused(), 1);
  EXPECT_EQ(drive.playing(), 0);

  drive.resume();
  drive.read_status();
  EXPECT_EQ(drive.playing(), 1);

  drive.stop();
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(drive.playing(), 0);
  EXPECT_EQ(drive.paused(), 0);
}

TEST_F(CdTest, DiscOrderStepsAndWrapsWhenATrackCompletes) {
  cd &drive = start({audio_disc({60, 60, 60})});
  ASSERT_EQ(drive.random(0), 1);
  drive.play(1);
  advance_seconds(61);
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(last_play(), "PLAYMSF 01:02:00-02:01:74 ok") << "track 2 alone follows";

  drive.play(3);
  advance_seconds(61);
  drive.read_status();
  EXPECT_EQ(last_play(), "PLAYMSF 00:02:00-01:01:74 ok") << "track 1 alone follows the last";
}

TEST_F(CdTest, NextAndPreviousInDiscOrderPlayToTheEnd) {
  cd &drive = start({audio_disc({60, 60, 60})});
  drive.random(0);
  drive.play(2);
  drive.read_status();
  drive.next();
  EXPECT_EQ(last_play(), "PLAYMSF 02:02:00-03:01:74 ok");
  drive.previous();  // play() leaves the current track as the last status said
  EXPECT_EQ(last_play(), "PLAYMSF 00:02:00-03:01:74 ok");

  drive.play(1);
  drive.read_status();
  drive.previous();
  EXPECT_EQ(last_play(), "PLAYMSF 00:02:00-03:01:74 ok") << "before track 1 is track 1";

  drive.play(3);
  drive.read_status();
  const auto requests = drive_log().size();
  EXPECT_EQ(drive.next(), 1);
  EXPECT_EQ(drive_log().size(), requests) << "nothing follows the last track";
}

TEST_F(CdTest, RandomOrderPlaysEveryTrackOncePerCycle) {
  cd &drive = start({audio_disc({10, 10, 10, 10, 10})});
  EXPECT_EQ(drive.random(2), 0);
  EXPECT_EQ(drive.random(-1), 0);
  EXPECT_EQ(drive.random(), 1);

  for (int cycle = 0; cycle < 3; ++cycle) {
    std::set<int> played;
    for (int pick = 0; pick < 5; ++pick) {
      // Half the picks by the key, half because the last track completed.
      if (pick % 2 == 0) {
        drive.next();
      } else {
        advance_seconds(11);
        drive.read_status();
      }
      const sim::drive_snapshot view = sim::drive_view();
      EXPECT_EQ(view.play_end_frame - view.play_start_frame, 10 * 75 - 1) << "one track at a time";
      EXPECT_TRUE(played.insert(played_track(10)).second) << "cycle " << cycle << " pick " << pick;
    }
  }
}

TEST_F(CdTest, EjectedDiscIsForgottenAndTheNextOneFound) {
  const int descriptors = open_descriptors();
  cd &drive = start({audio_disc({60, 60, 60}), audio_disc({60, 60})});
  EXPECT_EQ(drive.eject(), 1);
  EXPECT_EQ(drive.inside(), 1) << "until a status query fails";
  EXPECT_FALSE(sim::drive_view().disc_present);

  EXPECT_EQ(drive.read_status(), 0);
  EXPECT_EQ(drive.inside(), 0);
  EXPECT_EQ(drive.tracks(), 0);
  EXPECT_EQ(drive.current(), 0);
  EXPECT_EQ(open_descriptors(), descriptors);
  EXPECT_EQ(drive.read_status(), 1) << "an empty drive";

  advance_seconds(2);
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(drive.inside(), 1);
  EXPECT_EQ(drive.tracks(), 2);
  EXPECT_EQ(drive.play(1), 1);
}

TEST_F(CdTest, OpenAndCloseRefuseWhatIsAlreadyDone) {
  cd &drive = start({audio_disc({60})});
  EXPECT_EQ(drive.open(), 0);
  EXPECT_EQ(drive.close(), 1);
  EXPECT_EQ(drive.close(), 0);
  EXPECT_EQ(drive.tracks(), 0);
  EXPECT_EQ(drive.play(1), 0);
  EXPECT_EQ(drive.open(), 1);
}

TEST_F(CdTest, DiscWithoutReadableContentsChoosesNothingAtRandom) {
  cd &drive = start({blank_disc()});
  EXPECT_EQ(drive.inside(), 1);
  EXPECT_EQ(drive.tracks(), 0);
  EXPECT_EQ(drive.next(), 1);
  EXPECT_EQ(drive.play(1), 0);
  EXPECT_EQ(last_play(), "");
}

TEST_F(CdTest, TableOfContentsBeyondNinetyNineTracksIsRefused) {
  cd &drive = start({audio_disc(std::vector<int>(99, 4))});
  EXPECT_EQ(drive.tracks(), 99);
  EXPECT_EQ(drive.play(99), 1);
  EXPECT_EQ(last_play(), "PLAYMSF 06:34:00-06:37:74 ok");

  sim::drive_insert(audio_disc(std::vector<int>(100, 4)));
  drive.read_status();  // the old descriptor fails: the disc changed
  drive.read_status();
  EXPECT_EQ(drive.inside(), 1);
  EXPECT_EQ(drive.read_info(), 0);
  EXPECT_EQ(drive.tracks(), 0);
  EXPECT_EQ(drive.play(1), 0);
  EXPECT_EQ(drive.play(100), 0);
}

// Every status request fails on a drive without audio. That says nothing
// about the disc, which is asked for otherwise; it must come out on eject
// and the disc that follows must be found.
TEST_F(CdTest, DriveWithoutAudioStatusKeepsAndEjectsTheDisc) {
  sim::machine_config().data_only_drive = true;
  write_file("disc/artist/album/title.mp3", std::string(5000, 'x'));
  cd &drive = start({data_disc(path("disc")), audio_disc({60})});
  EXPECT_EQ(drive.inside(), 1) << "the refused status request did not lose the disc";
  EXPECT_EQ(drive.play(1), 0) << "a data track";

  EXPECT_EQ(drive.eject(), 1);
  EXPECT_TRUE(sim::drive_view().tray_open);
  const auto lines = drive_log();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"STOP", "LOCKDOOR 0", "EJECT"}));

  // The polls that follow find the tray open and leave it so.
  EXPECT_EQ(drive.read_status(), 0);
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(drive.inside(), 0);
  EXPECT_TRUE(sim::drive_view().tray_open);
  advance_seconds(2);
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(sim::drive_view().disc_index, 1) << "the next disc went in";
  EXPECT_EQ(drive.inside(), 1) << "and was found";
  EXPECT_EQ(drive_log().back(), "TOCHDR 1-1") << "its refused status query was checked";
}

TEST_F(CdTest, EjectThatTheDriveRefusesIsReportedAsFailed) {
  write_file("disc/artist/album/title.mp3", std::string(5000, 'x'));
  cd &drive = start({data_disc(path("disc"))});
  const char *mount_point = sim::machine_config().cdrom_mount_point.c_str();
  ASSERT_EQ(platform::mount_filesystem(platform::drive_device(), mount_point, "iso9660",
                                       disc_mount_flags),
            0);
  EXPECT_EQ(drive.eject(), 0) << "a mounted disc stays in";
  EXPECT_TRUE(sim::drive_view().disc_present);
  ASSERT_EQ(platform::unmount_filesystem(mount_point), 0);
  EXPECT_EQ(drive.eject(), 1);
  EXPECT_FALSE(sim::drive_view().disc_present);
}

}  // namespace
