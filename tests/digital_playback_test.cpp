// Digital playback behind the drive controller: a drive that refuses to play
// audio has its discs read and played through the PCM player (pcm-sink,
// which keeps what it receives), and the controller's operations and status
// behave as with a drive that plays itself. Tracks of 2 seconds hold 150
// sectors each.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "audio/cd.h"
#include "emu/drive.h"
#include "support/eventually.h"
#include "support/kept_audio.h"
#include "support/machine_fixture.h"
#include "support/processes.h"
#include "support/sim_process.h"
#include "util/clock.h"

namespace {

class DigitalPlayback : public machine_fixture {
 protected:
  void SetUp() override {
    machine_fixture::SetUp();
    sim::machine_config().pcm_player = built_program("tools/pcm-sink/pcm-sink");
    setenv("PCM_SINK_OUTPUT", path("kept.pcm").c_str(), 1);
    setenv("PCM_SINK_PID_FILE", path("sink.pids").c_str(), 1);
    setenv("PCM_SINK_PACE", "0", 1);
    setenv("PCM_SINK_UNDERRUNS", path("underruns").c_str(), 1);
  }
  void TearDown() override {
    sim::drive_end_stall();  // a test that failed may leave the reader stalled
    player.reset();          // ends the stream and the sink
    for (const char *name : {"PCM_SINK_OUTPUT", "PCM_SINK_PID_FILE", "PCM_SINK_PACE",
                             "PCM_SINK_SPEED", "PCM_SINK_UNDERRUNS", "SOUND_DEVICE"}) {
      unsetenv(name);
    }
    machine_fixture::TearDown();
  }

  cd &start(std::vector<sim::emulated_disc> discs, bool analog_audio = false) {
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

  // Nanoseconds of silence the sink heard in underruns so far.
  std::int64_t silence() const {
    std::int64_t total = 0;
    for (const std::string &line : read_lines(path("underruns"))) {
      std::int64_t start = 0, length = 0;
      if (std::sscanf(line.c_str(), "underrun %ld %ld", &start, &length) == 2) total += length;
    }
    return total;
  }

  // The last sector of `track` the sink received (-1: none).
  int last_kept(int track) const {
    int last = -1;
    for (const std::string &run : kept_runs(kept())) {
      if (run.starts_with(std::to_string(track) + ":"))
        last = std::stoi(run.substr(run.find('-') + 1));
    }
    return last;
  }

  // Waits until the reader is `seconds` of audio ahead of what the sink
  // received from `track` (starting at `track_start`, absolute frames).
  static void wait_read_ahead(const DigitalPlayback &test, int track, int track_start,
                              int seconds) {
    ASSERT_TRUE(eventually([&] {
      return sim::drive_view().read_end_frame - (track_start + test.last_kept(track)) >=
             seconds * 75;
    })) << "read ahead";
  }

  // Runs `call` in a thread and tells whether it returned while the drive
  // still stalled; the stall is ended in any case, so the thread ends.
  static bool returns_during_stall(const std::function<void()> &call) {
    std::atomic<bool> done{false};
    std::thread caller([&] {
      call();
      done = true;
    });
    const bool in_time = eventually([&] { return done.load(); }, std::chrono::seconds(10));
    const bool stalling = sim::drive_view().stalling;
    sim::drive_end_stall();
    caller.join();
    return in_time && stalling;
  }

  std::optional<cd> player;
};

TEST_F(DigitalPlayback, RefusedPlayIsStreamedSectorExactFromTheDisc) {
  cd &drive = start({audio_disc({2, 2, 2})});
  drive.random(0);
  EXPECT_EQ(drive.play(1, 3), 1);
  EXPECT_EQ(count_starting(drive_log(), "PLAYMSF 00:02:00-00:07:74 EOPNOTSUPP"), 1u);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 3, 149); });
  EXPECT_EQ(runs, (sector_lines{"1:0-149", "2:0-149", "3:0-149"}));
  EXPECT_EQ(sinks().size(), 1u);
  EXPECT_EQ(count_starting(drive_log(), "READAUDIO 00:02:00 x4"), 1u);
}

// The sound device the box's settings name (SOUND_DEVICE) reaches the PCM
// player as the one argument after -D, whatever it holds, and its
// environment as it reaches the decoder's, privileges dropped; unset or
// empty, the player takes ALSA's default.
TEST_F(DigitalPlayback, SoundDeviceReachesThePlayerAsOneArgument) {
  const std::string arguments = path("arguments");
  const std::string stand_in =
      write_file("aplay", "#!/bin/sh\nprintf '%s\\n' \"$@\" \"env=$SOUND_DEVICE\" >>" + arguments +
                              "\nexec cat >/dev/null\n");
  ASSERT_EQ(chmod(stand_in.c_str(), 0755), 0);
  sim::machine_config().pcm_player = stand_in;
  const std::string device = "plughw:CARD=PCH,DEV=0 $(touch x) `id`;";
  const std::vector<std::string> common = {"-q",    "-t", "raw", "-f", "cd", "--buffer-time",
                                           "150000"};
  struct {
    const char *value;
    std::vector<std::string> tail;
  } settings[] = {{device.c_str(), {"-D", device, "-", "env=" + device}}, {"", {"-", "env="}}};
  std::vector<std::string> expected;
  for (const auto &setting : settings) {
    setenv("SOUND_DEVICE", setting.value, 1);
    cd &drive = start({audio_disc({2})});
    ASSERT_EQ(drive.play(1, 1), 1);
    expected.insert(expected.end(), common.begin(), common.end());
    expected.insert(expected.end(), setting.tail.begin(), setting.tail.end());
    EXPECT_TRUE(eventually([&] { return read_lines(arguments).size() >= expected.size(); }));
    player.reset();
  }
  EXPECT_EQ(read_lines(arguments), expected);
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
        return count_starting(drive_log(), "READAUDIO 00:06:00") > 0;
      },
      std::chrono::seconds(30));
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 3, 149); });
  EXPECT_EQ(runs, (sector_lines{"2:0-149", "3:0-149"})) << "pause and resume lost nothing";
  EXPECT_EQ(count_starting(drive_log(), "PLAYMSF"), 1u)
      << "once refused, the drive is not asked again";
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
  EXPECT_EQ(count_starting(drive_log(), "SELECT_SPEED 4"), 1u) << "a quiet speed while it streamed";
  EXPECT_EQ(count_starting(drive_log(), "SELECT_SPEED 0"), 1u)
      << "the drive's own speed back on stop";
  drive.read_status();
  EXPECT_EQ(drive.playing(), 0);
  EXPECT_EQ(drive.paused(), 0);

  setenv("PCM_SINK_PACE", "0", 1);
  drive.play(1, 1);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 149); });
  ASSERT_GE(runs.size(), 2u);
  EXPECT_EQ(runs.back(), "1:0-149");
  EXPECT_EQ(sinks().size(), 2u) << "a new player for the new play";
  EXPECT_EQ(count_starting(drive_log(), "SELECT_SPEED 4"), 2u);
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
  EXPECT_EQ(kept_runs(kept()).size(), 3u) << "read_position starts nothing";
  // The next status query would have handled it; this disc has ended, so
  // the completion is gone and nothing more plays.
  drive.read_status();
  const size_t reads = count_starting(drive_log(), "READAUDIO");

  drive.play(1, 3);
  wait_for_runs(kept(), [](const sector_lines &r) { return r.size() >= 6 && reached(r, 3, 149); });
  EXPECT_GT(count_starting(drive_log(), "READAUDIO"), reads);
  eventually(
      [&] {
        drive.read_status();
        return kept_runs(kept()).size() >= 7;
      },
      std::chrono::seconds(30));
  const auto runs = wait_for_runs(
      kept(), [](const sector_lines &r) { return r.size() >= 7 && r.back().ends_with("-149"); });
  ASSERT_EQ(runs.size(), 7u);
  EXPECT_TRUE(runs[6] == "1:0-149" || runs[6] == "2:0-149" || runs[6] == "3:0-149") << runs[6];
}

TEST_F(DigitalPlayback, SectorThatFailsIsPlayedAsSilenceInItsPlace) {
  sim::emulated_disc disc = audio_disc({2});
  disc.unreadable_sectors = {{1, 10}};
  cd &drive = start({disc});
  testing::internal::CaptureStdout();
  drive.play(1);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 149); });
  drive.stop();
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(runs, (sector_lines{"1:0-9", "silence 1", "1:11-149"}));
  EXPECT_EQ(console, "audio 00:02:10 to 00:02:10 unreadable, played as silence\n");
  EXPECT_EQ(count_starting(drive_log(), "READAUDIO 00:02:08 x4 EIO"), 1u);
}

// A 2-second scratch whose every read takes the drive 300 ms to fail, in an
// 8-second track played at real-time pace: it is stepped over in a few
// failing reads, not 150, and the music around it keeps every sector in
// its place with nothing heard missing but the scratch itself.
TEST_F(DigitalPlayback, ScratchIsSteppedOverAndPlayedAsSilenceInItsPlace) {
  sim::machine_config().scratches = {{1, 3, 5, 300}};
  cd &drive = start({audio_disc({8})});
  setenv("PCM_SINK_PACE", "1", 1);
  testing::internal::CaptureStdout();
  drive.play(1);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 599); });
  drive.stop();
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(runs, (sector_lines{"1:0-224", "silence 150", "1:375-599"}));
  EXPECT_EQ(console, "audio 00:05:00 to 00:06:74 unreadable, played as silence\n");
  const auto failed = std::ranges::count_if(
      drive_log(), [](const std::string &line) { return line.ends_with("scratch EIO"); });
  EXPECT_LE(failed, 10) << "stepped over, not read sector by sector";
  EXPECT_LT(silence(), 1'000'000'000) << ::testing::PrintToString(read_lines(path("underruns")));
}

TEST_F(DigitalPlayback, DiscTakenOutEndsEverything) {
  cd &drive = start({audio_disc({2, 2, 2})});
  setenv("PCM_SINK_PACE", "1", 1);
  drive.play(1, 3);
  wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 5); });
  sim::drive_remove();
  // The stream's next read finds the disc gone; the status query after it
  // asks the drive.
  EXPECT_TRUE(eventually([&] { return drive.read_status() == 0; }));
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
  EXPECT_EQ(count_starting(drive_log(), "SELECT_SPEED 0"), 1u)
      << "the drive's own speed back on eject";
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
  EXPECT_TRUE(eventually([&] { return drive.read_status() == 0; }));
  EXPECT_EQ(drive.inside(), 0);
  EXPECT_FALSE(process_running(sinks()[0]));
}

TEST_F(DigitalPlayback, DriveThatPlaysItselfGetsPlayAudioAndNoPlayer) {
  cd &drive = start({audio_disc({2, 2})}, true);
  EXPECT_EQ(drive.play(1, 2), 1);
  EXPECT_EQ(count_starting(drive_log(), "PLAYMSF 00:02:00-00:05:74 ok"), 1u);
  drive.pause();
  drive.resume();
  drive.stop();
  EXPECT_EQ(count_starting(drive_log(), "PAUSE"), 1u);
  EXPECT_EQ(count_starting(drive_log(), "READAUDIO"), 0u);
  EXPECT_TRUE(sinks().empty());
}

// A 6-second track (450 sectors) at real-time pace, read at 4x, the sink's
// card holding 150 ms: a stall far longer than that is played
// through. (A machine too busy to run the sink for a while can still make
// it skip, for a third of the stall under the thread checker beside a
// booted guest; silence as long as the stall, less the card's 150 ms, is
// what a missing read-ahead sounds like.)
TEST_F(DigitalPlayback, StallOfTheDriveIsPlayedThroughFromTheReadAhead) {
  cd &drive = start({audio_disc({6})});
  setenv("PCM_SINK_PACE", "1", 1);
  drive.play(1);
  wait_read_ahead(*this, 1, 150, 2);
  sim::drive_stall_next_read(600000);
  ASSERT_TRUE(eventually([] { return sim::drive_view().stalling; }));
  const std::int64_t stalled = util::monotonic_ns();
  const int at_stall = last_kept(1);
  // A second and a half of music while the drive gives nothing.
  ASSERT_TRUE(eventually([&] { return last_kept(1) >= at_stall + 113; }));
  EXPECT_TRUE(sim::drive_view().stalling);
  sim::drive_end_stall();
  const std::int64_t stall = util::monotonic_ns() - stalled;
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 1, 449); });
  EXPECT_EQ(runs, (sector_lines{"1:0-449"}));
  EXPECT_LT(silence(), stall / 2) << ::testing::PrintToString(read_lines(path("underruns")));
}

// Keys while the drive is busy for a long time: pause, resume and next are
// answered from the stream, next drops what was read ahead of the old
// track at once, and stop ends the player at once.
TEST_F(DigitalPlayback, KeysDuringAStallAreHeardAtOnce) {
  cd &drive = start({audio_disc({60, 60})});
  drive.random(0);
  setenv("PCM_SINK_PACE", "1", 1);
  drive.play(1, 2);
  wait_read_ahead(*this, 1, 150, 2);

  // Paused, then resumed while the drive spins up again: the read-ahead
  // plays on.
  drive.pause();
  sim::drive_stall_next_read(600000);
  drive.resume();
  ASSERT_TRUE(eventually([] { return sim::drive_view().stalling; }));
  const int resumed_at = last_kept(1);
  EXPECT_TRUE(eventually([&] { return last_kept(1) >= resumed_at + 75; }));
  EXPECT_TRUE(returns_during_stall([&] {
    drive.pause();
    drive.read_status();
    drive.resume();
  })) << "pause, status and resume wait for no read";

  wait_read_ahead(*this, 1, 150, 2);
  sim::drive_stall_next_read(600000);
  ASSERT_TRUE(eventually([] { return sim::drive_view().stalling; }));
  int pressed_at = -1;
  EXPECT_TRUE(returns_during_stall([&] {
    pressed_at = last_kept(1);
    drive.next();
  })) << "next waits for no read";
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 2, 10); });
  ASSERT_EQ(runs.size(), 2u) << ::testing::PrintToString(runs);
  // Only what was in the player's pipe and the sector begun follow the key.
  EXPECT_LE(last_kept(1) - pressed_at, 8) << ::testing::PrintToString(runs);
  EXPECT_TRUE(runs[1].starts_with("2:0-")) << runs[1];

  sim::drive_stall_next_read(600000);
  ASSERT_TRUE(eventually([] { return sim::drive_view().stalling; }));
  ASSERT_EQ(sinks().size(), 1u);
  const pid_t sink = sinks()[0];
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    drive.stop();
    stopped = true;
  });
  EXPECT_TRUE(eventually([&] { return !process_running(sink); })) << "the player ends at once";
  EXPECT_TRUE(sim::drive_view().stalling) << "while the drive still stalls";
  sim::drive_end_stall();
  stopper.join();
  EXPECT_TRUE(stopped);
}

// The detection's test play reads ahead without a sound; the play from the
// same track then plays on from its first sector with what was read.
TEST_F(DigitalPlayback, TestPlayReadsAheadSilentlyAndThePlayOfTheDiscGoesOnFromIt) {
  cd &drive = start({audio_disc({2, 2})});
  drive.random(0);
  EXPECT_EQ(drive.test_play(1), 1);
  ASSERT_TRUE(eventually([] { return sim::drive_view().read_end_frame >= 150 + 40; }));
  EXPECT_TRUE(sinks().empty()) << "nothing sounds";
  EXPECT_EQ(drive.play(1, 2), 1);
  const auto runs = wait_for_runs(kept(), [](const sector_lines &r) { return reached(r, 2, 149); });
  EXPECT_EQ(runs, (sector_lines{"1:0-149", "2:0-149"}));
  EXPECT_EQ(count_starting(drive_log(), "READAUDIO 00:02:00 "), 1u) << "the start is read once";
  EXPECT_EQ(count_starting(drive_log(), "PLAYMSF"), 1u);
}

}  // namespace
