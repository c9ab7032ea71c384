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
    sim_ = std::make_unique<SimProcess>(arguments, environment);
    at_ = sim_->wait_for("init1\n");
    ASSERT_NE(at_, std::string::npos) << sim_->output();
  }

  void press(const std::string &keys, const std::string &echo) {
    sim_->type(keys);
    at_ = sim_->wait_for(echo, at_);
    ASSERT_NE(at_, std::string::npos) << sim_->output();
  }

  // The kept runs, once `done` holds. The first run is the few sectors of
  // track 1 that the disc detection's test play streams before the mode's
  // own play replaces it.
  sector_lines runs_after(const std::function<bool(const sector_lines &)> &done) {
    return wait_for_runs(kept(), done);
  }

  size_t requests_starting(const std::string &prefix) {
    const auto lines = read_lines(folder_.file("drive"));
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string &line) { return line.starts_with(prefix); });
  }

  std::string kept() const { return folder_.file("kept.pcm"); }

  TemporaryFolder folder_;
  std::unique_ptr<SimProcess> sim_;
  size_t at_ = 0;
};

bool last_reaches(const sector_lines &runs, const std::string &track, int sector) {
  if (runs.empty() || !runs.back().starts_with(track + ":0-")) return false;
  return std::stoi(runs.back().substr(runs.back().find('-') + 1)) >= sector;
}

TEST_F(DigitalAudioMode, KeysPlayTheDiscSectorExact) {
  start("audio:3,3,3", {"PCM_SINK_SPEED=2"});
  EXPECT_NE(sim_->output().find("audio modus..\n"), std::string::npos);
  auto runs = runs_after([](const sector_lines &r) { return last_reaches(r, "1", 20); });
  ASSERT_TRUE(last_reaches(runs, "1", 20)) << ::testing::PrintToString(runs);

  press("E", " next\n ");
  runs = runs_after([](const sector_lines &r) { return last_reaches(r, "2", 20); });
  ASSERT_TRUE(last_reaches(runs, "2", 20)) << ::testing::PrintToString(runs);
  press("e", " next\n ");
  runs = runs_after([](const sector_lines &r) { return last_reaches(r, "3", 20); });
  ASSERT_TRUE(last_reaches(runs, "3", 20)) << ::testing::PrintToString(runs);
  press("A", " previous\n ");
  runs = runs_after([](const sector_lines &r) { return last_reaches(r, "2", 20); });
  ASSERT_TRUE(last_reaches(runs, "2", 20)) << ::testing::PrintToString(runs);

  // Pause and resume: the run of track 2 goes on without a gap.
  const size_t runs_before_pause = runs.size();
  sim_->type("B");
  sim_->type("B");
  runs = runs_after([](const sector_lines &r) { return last_reaches(r, "2", 120); });
  ASSERT_TRUE(last_reaches(runs, "2", 120)) << ::testing::PrintToString(runs);
  EXPECT_EQ(runs.size(), runs_before_pause);

  // Stop ends the player; play starts from track 1 with a new one.
  sim_->type("M");
  sim_->type("N");
  runs = runs_after([](const sector_lines &r) { return last_reaches(r, "1", 20); });
  ASSERT_TRUE(last_reaches(runs, "1", 20)) << ::testing::PrintToString(runs);
  press("X", " eject cd-a\n ");
  ASSERT_NE(sim_->wait_for("and eject 1\n", at_), std::string::npos) << sim_->output();
  const auto sinks = pids_in(folder_.file("sinks"));
  EXPECT_GE(sinks.size(), 2u);
  for (pid_t sink : sinks) EXPECT_FALSE(process_running(sink)) << "eject ended every player";
  EXPECT_EQ(requests_starting("PLAYMSF 00:02:00-00:04:74 EOPNOTSUPP"), 1u) << "the test play";
}

// Once the whole disc has played, previous and next only refresh the track
// number: neither starts a random track of its own.
TEST_F(DigitalAudioMode, KeysOnADiscThatHasEndedStartNothingOfTheirOwn) {
  start("audio:1,1", {"PCM_SINK_PACE=0"});
  const auto runs = runs_after([](const sector_lines &r) { return last_reaches(r, "2", 74); });
  ASSERT_TRUE(last_reaches(runs, "2", 74)) << ::testing::PrintToString(runs);
  const size_t plays = requests_starting("PLAYMSF");
  press("E", " next\n ");
  EXPECT_EQ(requests_starting("PLAYMSF"), plays) << "next from the last track plays nothing";
  press("D", " previous\n ");
  EXPECT_EQ(requests_starting("PLAYMSF"), plays + 1);
  EXPECT_EQ(requests_starting("PLAYMSF 00:02:00-00:03:74"), 2u) << "the mode's own, and D's";
}

TEST_F(DigitalAudioMode, MissingPlayerIsReportedAndTheKeysStillWork) {
  start("audio:3,3", {}, {"--pcm-output", folder_.file("no-such-player")});
  ASSERT_NE(sim_->wait_for("pcm player died unexpected\n", at_), std::string::npos)
      << sim_->output();
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
