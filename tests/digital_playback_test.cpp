// Digital playback behind the drive controller: a drive that refuses to play
// audio has its discs read and played through the PCM player (pcm-sink,
// which keeps what it receives), and the controller's operations and status
// behave as with a drive that plays itself. Tracks of 2 seconds hold 150
// sectors each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "audio/cd.h"
#include "emu/drive.h"
#include "support/eventually.h"
#include "support/kept_audio.h"
#include "support/machine_fixture.h"
#include "support/processes.h"
#include "support/sim_process.h"

namespace {

class DigitalPlayback : public MachineFixture {
 protected:
  void SetUp() override {
    MachineFixture::SetUp();
    sim::machine_config().pcm_player = built_program("tools/pcm-sink/pcm-sink");
    setenv("PCM_SINK_OUTPUT", path("kept.pcm").c_str(), 1);
    setenv("PCM_SINK_PID_FILE", path("sink.pids").c_str(), 1);
    setenv("PCM_SINK_PACE", "0", 1);
  }
  void TearDown() override {
    player.reset();  // ends the stream and the sink
    for (const char *name :
         {"PCM_SINK_OUTPUT", "PCM_SINK_PID_FILE", "PCM_SINK_PACE", "PCM_SINK_SPEED"}) {
      unsetenv(name);
    }
    MachineFixture::TearDown();
  }

  cd &start(std::vector<sim::Disc> discs, bool analog_audio = false) {
    sim::machine_config().no_analog_audio = !analog_audio;
    load_discs(std::move(discs));
    return player.emplace();
  }

  std::string kept() const { return path("kept.pcm"); }
  std::vector<pid_t> sinks() const { return pids_in(path("sink.pids")); }

  // Polls the way the audio mode's keys do, until the play has completed.
  void wait_until_completed(cd &drive) {
    const bool completed = eventually(
        [&] {
          const auto before = drive_log().size();
          drive.read_position();
          return drive.playing() == 0 && drive.paused() == 0 && drive_log().size() > before;
        },
        std::chrono::seconds(30));
    if (!completed) ADD_FAILURE() << "the play did not complete";
  }

  size_t requests_starting(const std::string &prefix) const {
    const auto lines = drive_log();
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string &line) { return line.starts_with(prefix); });
  }

  std::optional<cd> player;
};

TEST_F(DigitalPlayback, RefusedPlayIsStreamedSectorExactFromTheDisc) {
  cd &drive = start({audio_disc({2, 2, 2})});
  drive.random(0);
  EXPECT_EQ(drive.play(1, 3), 1);
  EXPECT_EQ(requests_starting("PLAYMSF 00:02:00-00:07:74 EOPNOTSUPP"), 1u);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 3, 149); });
  EXPECT_EQ(runs, (sector_lines{"1:0-149", "2:0-149", "3:0-149"}));
  EXPECT_EQ(sinks().size(), 1u);
  EXPECT_EQ(requests_starting("READAUDIO 00:02:00 x4"), 1u);
}

TEST_F(DigitalPlayback, StatusIsTheStreamsAndCompletionIsReportedOnce) {
  cd &drive = start({audio_disc({2, 2, 2})});
  drive.random(0);
  setenv("PCM_SINK_PACE", "1", 1);
  setenv("PCM_SINK_SPEED", "4", 1);
  drive.play(2, 2);
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 2, 20); });
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(drive.playing(), 1);
  EXPECT_EQ(drive.current(), 2) << "the track sounding";

  drive.pause();
  drive.read_status();
  EXPECT_EQ(drive.paused(), 1);
  EXPECT_EQ(drive.playing(), 0);
  drive.resume();
  drive.read_status();
  EXPECT_EQ(drive.playing(), 1);

  // In disc order the completion of track 2 starts track 3 alone.
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 2, 149); });
  eventually(
      [&] {
        drive.read_status();
        return requests_starting("PLAYMSF 00:06:00-00:07:74") > 0;
      },
      std::chrono::seconds(30));
  EXPECT_EQ(requests_starting("PLAYMSF 00:06:00-00:07:74"), 1u);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 3, 149); });
  EXPECT_EQ(runs, (sector_lines{"2:0-149", "3:0-149"})) << "pause and resume lost nothing";
  drive.read_position();
  EXPECT_EQ(drive.current(), 3);
}

TEST_F(DigitalPlayback, StopEndsThePlayerAndPlayStartsAgainFromTheStart) {
  cd &drive = start({audio_disc({2, 2, 2})});
  setenv("PCM_SINK_PACE", "1", 1);
  drive.play(2, 3);
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 2, 5); });
  ASSERT_EQ(sinks().size(), 1u);
  EXPECT_EQ(drive.stop(), 1);
  EXPECT_FALSE(process_running(sinks()[0])) << "ended and reaped";
  drive.read_status();
  EXPECT_EQ(drive.playing(), 0);
  EXPECT_EQ(drive.paused(), 0);

  setenv("PCM_SINK_PACE", "0", 1);
  drive.play(1, 1);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 149); });
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs.back(), "1:0-149");
  EXPECT_EQ(sinks().size(), 2u) << "a new player for the new play";
}

// Tracks of 10 seconds here: each still sounds when the step is asked for.
TEST_F(DigitalPlayback, NextAndPreviousMoveTheStreamOnASectorBoundary) {
  cd &drive = start({audio_disc({10, 10, 10})});
  drive.random(0);
  setenv("PCM_SINK_PACE", "1", 1);
  setenv("PCM_SINK_SPEED", "4", 1);
  drive.play(1, 3);
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 10); });
  drive.read_status();
  ASSERT_EQ(drive.current(), 1);
  drive.next();
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 2, 10); });
  drive.read_status();
  ASSERT_EQ(drive.current(), 2);
  drive.previous();
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return r.size() >= 3; });
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_TRUE(runs[0].starts_with("1:0-")) << runs[0];
  EXPECT_TRUE(runs[1].starts_with("2:0-")) << runs[1];
  EXPECT_TRUE(runs[2].starts_with("1:0-")) << runs[2];
  EXPECT_EQ(sinks().size(), 1u) << "the player stays through new ranges";
}

TEST_F(DigitalPlayback, CompletedDiscInRandomOrderPlaysOneWholeTrack) {
  cd &drive = start({audio_disc({2, 2, 2})});
  ASSERT_EQ(drive.random(), 1);
  drive.play(1, 3);
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 3, 149); });
  wait_until_completed(drive);
  EXPECT_EQ(drive.current(), 3);
  EXPECT_EQ(requests_starting("PLAYMSF"), 1u) << "read_position starts nothing";
  // The next status query would have handled it; this disc has ended, so
  // the completion is gone and nothing more plays.
  drive.read_status();
  EXPECT_EQ(requests_starting("PLAYMSF"), 1u);

  drive.play(1, 3);
  wait_for_runs(kept(), [](const sector_lines &r) { return r.size() >= 6 && reached(r, 3, 149); });
  eventually(
      [&] {
        drive.read_status();
        return requests_starting("PLAYMSF") >= 3;
      },
      std::chrono::seconds(30));
  const auto runs = wait_for_runs(
      kept(), [](const sector_lines &r) { return r.size() >= 7 && r.back().ends_with("-149"); });
  ASSERT_EQ(runs.size(), 7u);
  EXPECT_TRUE(runs[6] == "1:0-149" || runs[6] == "2:0-149" || runs[6] == "3:0-149") << runs[6];
}

TEST_F(DigitalPlayback, SectorThatFailsIsRetriedThenPlayedAsSilence) {
  sim::Disc disc = audio_disc({2});
  disc.unreadable_sectors = {{1, 10}};
  cd &drive = start({disc});
  testing::internal::CaptureStdout();
  drive.play(1);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 149); });
  drive.stop();
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(runs, (sector_lines{"1:0-9", "silence 1", "1:11-149"}));
  EXPECT_EQ(console, "audio sector 00:02:10 unreadable, played as silence\n");
  EXPECT_EQ(requests_starting("READAUDIO 00:02:08 x4 EIO"), 1u);
  EXPECT_EQ(requests_starting("READAUDIO 00:02:10 x1 EIO"), 4u) << "tried, then retried thrice";
}

TEST_F(DigitalPlayback, DiscTakenOutEndsEverything) {
  cd &drive = start({audio_disc({2, 2, 2})});
  setenv("PCM_SINK_PACE", "1", 1);
  drive.play(1, 3);
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 5); });
  sim::drive_remove();
  EXPECT_EQ(drive.read_status(), 0);
  EXPECT_EQ(drive.inside(), 0);
  ASSERT_EQ(sinks().size(), 1u);
  EXPECT_FALSE(process_running(sinks()[0]));
}

TEST_F(DigitalPlayback, EjectStopsTheStreamAndThePlayer) {
  cd &drive = start({audio_disc({2, 2, 2})});
  setenv("PCM_SINK_PACE", "1", 1);
  const int descriptors = open_descriptors();
  drive.play(1, 3);
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 5); });
  EXPECT_EQ(drive.eject(), 1);
  ASSERT_EQ(sinks().size(), 1u);
  EXPECT_FALSE(process_running(sinks()[0]));
  EXPECT_EQ(open_descriptors(), descriptors) << "no pipe or eventfd left";
  EXPECT_TRUE(sim::drive_view().tray_open);
}

TEST_F(DigitalPlayback, DataTrackStillFailsAndStartsNothing) {
  write_file("disc/artist/album/title.mp3", std::string(5000, 'x'));
  cd &drive = start({data_disc(path("disc"))});
  EXPECT_EQ(drive.play(1), 0);
  EXPECT_TRUE(sinks().empty());
}

// qemu's IDE drive under Linux refuses the audio status request as well.
TEST_F(DigitalPlayback, DriveWithoutAudioStatusReportsTheStreamAndNoticesTheDiscGoing) {
  sim::machine_config().data_only_drive = true;
  cd &drive = start({audio_disc({2, 2})});
  EXPECT_EQ(drive.inside(), 1) << "the refused status query left the disc known";
  setenv("PCM_SINK_PACE", "1", 1);
  EXPECT_EQ(drive.play(2), 1);
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 2, 5); });
  EXPECT_EQ(drive.read_status(), 1);
  EXPECT_EQ(drive.playing(), 1);
  EXPECT_EQ(drive.current(), 2);
  sim::drive_remove();
  EXPECT_EQ(drive.read_status(), 0);
  EXPECT_EQ(drive.inside(), 0);
  EXPECT_FALSE(process_running(sinks()[0]));
}

TEST_F(DigitalPlayback, DriveThatPlaysItselfGetsPlayAudioAndNoPlayer) {
  cd &drive = start({audio_disc({2, 2})}, true);
  EXPECT_EQ(drive.play(1, 2), 1);
  EXPECT_EQ(requests_starting("PLAYMSF 00:02:00-00:05:74 ok"), 1u);
  drive.pause();
  drive.resume();
  drive.stop();
  EXPECT_EQ(requests_starting("PAUSE"), 1u);
  EXPECT_EQ(requests_starting("READAUDIO"), 0u);
  EXPECT_TRUE(sinks().empty());
}

}  // namespace
