// The audio-CD mode on a drive without analog audio, at the keys of
// discbox-sim: the music is read from the disc and played through the PCM
// player (pcm-sink keeps it), and every key acts as on a drive that plays
// itself. Tracks of 3 seconds hold 225 sectors each.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/kept_audio.h"
#include "support/processes.h"
#include "support/sim_process.h"

namespace {

class DigitalAudioMode : public ::testing::Test {
 protected:
  void start(const std::string &disc, std::vector<std::string> environment = {},
             std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"--no-analog-audio", "--drive-log", folder_.file("drive")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(disc);
    environment.push_back("PCM_SINK_OUTPUT=" + kept());
    environment.push_back("PCM_SINK_PID_FILE=" + folder_.file("sinks"));
    sim_ = std::make_unique<sim_process>(arguments, environment);
    at_ = sim_->wait_for("init1\n");
    ASSERT_NE(at_, std::string::npos) << sim_->output();
  }

  void TearDown() override {
    if (sim_ == nullptr) return;
    // The simulator's processes report sanitizer findings on its stderr.
    EXPECT_FALSE(has_sanitizer_report(sim_->errors())) << sim_->errors();
  }

  void press(const std::string &keys, const std::string &echo) {
    sim_->type(keys);
    at_ = sim_->wait_for(echo, at_);
    ASSERT_NE(at_, std::string::npos) << sim_->output();
  }

  std::string kept() const { return folder_.file("kept.pcm"); }

  temporary_folder folder_;
  std::unique_ptr<sim_process> sim_;
  size_t at_ = 0;
};

bool last_reaches(const sector_lines &runs, const std::string &track, int sector) {
  if (runs.empty() || !runs.back().starts_with(track + ":0-")) return false;
  return std::stoi(runs.back().substr(runs.back().find('-') + 1)) >= sector;
}

// The index of the first run from `from` on that starts at sector 0 of
// `track` and has reached `sector`, or -1. The stream goes on while a test
// looks, so later runs may follow it.
int run_of(const sector_lines &runs, size_t from, int track, int sector) {
  const std::string prefix = std::to_string(track) + ":0-";
  for (size_t i = from; i < runs.size(); ++i) {
    if (runs[i].starts_with(prefix) && std::stoi(runs[i].substr(prefix.size())) >= sector) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// Tracks of 10 seconds (750 sectors), played at twice real time: a key
// typed while a track sounds is handled long before the track ends.
TEST_F(DigitalAudioMode, KeysPlayTheDiscSectorExact) {
  start("audio:10,10,10", {"PCM_SINK_SPEED=2"});
  EXPECT_NE(sim_->output().find("audio modus..\n"), std::string::npos);
  size_t seen = 0;
  sector_lines runs;
  // Waits for a run of `track` from sector 0 after the runs seen so far.
  auto expect_run = [&](int track, int sector) {
    runs = wait_for_runs(
        kept(), [&](const sector_lines &r) { return run_of(r, seen, track, sector) >= 0; });
    const int at = run_of(runs, seen, track, sector);
    EXPECT_GE(at, 0) << "track " << track << ": " << ::testing::PrintToString(runs);
    if (at >= 0) seen = static_cast<size_t>(at) + 1;
    return at;
  };
  EXPECT_EQ(expect_run(1, 20), 0) << "the detection's test play sounds nothing of its own";
  press("E", " next\n ");
  expect_run(2, 20);
  press("e", " next\n ");
  expect_run(3, 20);
  press("A", " previous\n ");
  const int before_pause = expect_run(2, 20);

  // Pause and resume: the run of track 2 goes on without a gap.
  sim_->type("B");
  sim_->type("B");
  runs = wait_for_runs(kept(),
                       [&](const sector_lines &r) { return run_of(r, seen - 1, 2, 300) >= 0; });
  EXPECT_EQ(run_of(runs, seen - 1, 2, 300), before_pause) << ::testing::PrintToString(runs);

  // Stop ends the player; play starts from track 1 with a new one.
  sim_->type("M");
  sim_->type("N");
  expect_run(1, 20);
  press("X", " eject cd-a\n ");
  ASSERT_NE(sim_->wait_for("and eject 1\n", at_), std::string::npos) << sim_->output();
  const auto sinks = pids_in(folder_.file("sinks"));
  EXPECT_GE(sinks.size(), 2u);
  for (pid_t sink : sinks) EXPECT_FALSE(process_running(sink)) << "eject ended every player";
  EXPECT_EQ(
      count_starting(read_lines(folder_.file("drive")), "PLAYMSF 00:02:00-00:11:74 EOPNOTSUPP"), 1u)
      << "the test play";
}

// --drive-scratch at the simulator's command line: a 1-second scratch 4 s
// into an 8-second track, each read of it failing after 300 ms, is played
// as silence in its place with one console line, and the disc plays on.
TEST_F(DigitalAudioMode, ScratchGivenOnTheCommandLineIsPlayedAsSilence) {
  start("audio:8,3", {}, {"--drive-scratch", "1:4-5/300"});
  const sector_lines runs =
      wait_for_runs(kept(), [](const sector_lines &r) { return last_reaches(r, "2", 20); });
  EXPECT_EQ(std::vector<std::string>(runs.begin(), runs.begin() + std::min<size_t>(runs.size(), 3)),
            (sector_lines{"1:0-299", "silence 75", "1:375-599"}));
  const std::string line = "audio 00:06:00 to 00:06:74 unreadable, played as silence\n";
  const std::string output = sim_->output();
  EXPECT_NE(output.find(line), std::string::npos) << output;
  EXPECT_EQ(output.find("unreadable"), output.rfind("unreadable")) << "one line: " << output;
  const auto drive = read_lines(folder_.file("drive"));
  EXPECT_GE(
      std::ranges::count_if(drive, [](const std::string &l) { return l.ends_with("scratch EIO"); }),
      1);
}

// Once the whole disc has played, previous and next only refresh the track
// number: neither starts a random track of its own.
TEST_F(DigitalAudioMode, KeysOnADiscThatHasEndedStartNothingOfTheirOwn) {
  start("audio:1,1", {"PCM_SINK_PACE=0"});
  const auto runs =
      wait_for_runs(kept(), [](const sector_lines &r) { return last_reaches(r, "2", 74); });
  ASSERT_TRUE(last_reaches(runs, "2", 74)) << ::testing::PrintToString(runs);
  press("E", " next\n ");
  press("D", " previous\n ");
  // D plays the disc again from track 1; E before it played nothing.
  const auto after = wait_for_runs(
      kept(), [](const sector_lines &r) { return r.size() >= 4 && last_reaches(r, "2", 74); });
  EXPECT_EQ(after, (sector_lines{"1:0-74", "2:0-74", "1:0-74", "2:0-74"}))
      << ::testing::PrintToString(after);
}

// The PCM player plays what the disc holds: it runs without root and
// without any capability, whatever the player may do.
TEST_F(DigitalAudioMode, PcmPlayerRunsWithoutRootOrAnyCapability) {
  start("audio:30");
  ASSERT_TRUE(wait_for_size(folder_.file("sinks"), 1)) << "no PCM player started";
  const std::string status = status_of(pids_in(folder_.file("sinks"))[0]);
  ASSERT_NE(status, "") << "the PCM player is gone";
  EXPECT_EQ(privileges_held(status), "") << status;
  press("X", " eject cd-a\n ");
}

TEST_F(DigitalAudioMode, MissingPlayerIsReportedAndTheKeysStillWork) {
  start("audio:3,3", {}, {"--pcm-output", folder_.file("no-such-player")});
  at_ = sim_->wait_for("pcm player died unexpected\n", at_);
  ASSERT_NE(at_, std::string::npos) << sim_->output();
  at_ = sim_->wait_for("pcm player could not be executed: No such file or directory\n", at_);
  ASSERT_NE(at_, std::string::npos) << sim_->output();
  press("B", "");
  press("X", " eject cd-a\n ");
  ASSERT_NE(sim_->wait_for("and eject 1\n", at_), std::string::npos) << sim_->output();
}

TEST_F(DigitalAudioMode, PlayerThatDiesIsStartedAgainOnASectorBoundary) {
  start("audio:3,3", {"PCM_SINK_EXIT_AFTER=40000", "PCM_SINK_SPEED=4"});
  ASSERT_NE(sim_->wait_for("pcm player died unexpected\n", at_), std::string::npos)
      << sim_->output();
  const auto runs = wait_for_runs(kept(), [&](const sector_lines &r) {
    return pids_in(folder_.file("sinks")).size() >= 3 && !r.empty();
  });
  EXPECT_GE(pids_in(folder_.file("sinks")).size(), 3u);
  // Each player takes 40000 bytes, 17 whole sectors and a part: the kept
  // stream shows the cut and then whole sectors again.
  EXPECT_NE(std::find(runs.begin(), runs.end(), "junk " + std::to_string(40000 - 17 * 2352)),
            runs.end())
      << ::testing::PrintToString(runs);
  press("X", " eject cd-a\n ");
}

}  // namespace
