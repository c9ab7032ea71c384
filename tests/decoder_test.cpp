// The decoder process seen from outside the player: a decoder that cannot be
// executed is reported with the reason and retried once a second, not in a
// tight loop, a decoder that
// neither reads nor ends on SIGTERM is still gone once the mode is left, and
// no decoder holds a privilege.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/frame_stamps.h"
#include "support/processes.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdisc::title_options titles;
    titles.frames = 400;
    disc_ = folder_.file("disc");
    write_stamped_disc(disc_, {"A/B/t1.mp3"}, titles);
  }

  // Starts the simulator on the disc and waits for the mode's key loop.
  std::unique_ptr<sim_process> start(std::vector<std::string> arguments,
                                     const std::vector<std::string> &environment) {
    arguments.insert(arguments.begin(), {"--swap-delay", "100", "--run-for", "120"});
    arguments.push_back(disc_);
    auto sim = std::make_unique<sim_process>(arguments, environment);
    EXPECT_NE(sim->wait_for("now\n"), std::string::npos) << sim->output();
    return sim;
  }

  // After the player unmounted and ejected, it is the only process left.
  static void expect_nothing_left(const sim_process &sim) {
    const std::vector<pid_t> players = child_processes(sim.pid());
    ASSERT_EQ(players.size(), 1u);
    EXPECT_TRUE(child_processes(players[0]).empty());
  }

  temporary_folder folder_;
  std::string disc_;
};

TEST_F(DecoderTest, DecoderThatCannotBeExecutedIsTriedAgainEverySecond) {
  const auto began = std::chrono::steady_clock::now();
  auto sim = start({"--decoder", folder_.file("no-such-decoder")}, {});
  ASSERT_NE(sim->wait_for("Try to start the mp3 player the 3. time...\n"), std::string::npos)
      << sim->output();
  // The first attempt came after `began`; a slow machine can only make the
  // attempts further apart.
  EXPECT_GE(std::chrono::steady_clock::now() - began, 1900ms) << "attempts must be a second apart";
  // Each attempt's reason follows its own lines (the mode's lines may come
  // between).
  const std::string reason = "mpg123 could not be executed: No such file or directory\n";
  EXPECT_GE(sim->count(reason), 2u) << sim->output();
  EXPECT_LE(sim->count(reason), sim->count("mpg123 died unexpected\n")) << sim->output();
  EXPECT_LT(sim->wait_for("mpg123 died unexpected\n"), sim->wait_for(reason)) << sim->output();
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();
  expect_nothing_left(*sim);
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

// The decoder parses the disc's bytes: whatever the player may do, the
// decoder runs without root and without any capability.
TEST_F(DecoderTest, DecoderRunsWithoutRootOrAnyCapability) {
  const std::string pids = folder_.file("sink.pids");
  auto sim = start({}, {"FRAME_SINK_PID_FILE=" + pids});
  ASSERT_TRUE(wait_for_size(pids, 1)) << "the decoder did not start";
  const std::string status = status_of(pids_in(pids)[0]);
  ASSERT_NE(status, "") << "the decoder is gone";
  EXPECT_EQ(privileges_held(status), "") << status;
  sim->type("x");
  EXPECT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();
}

// A decoder hung in its audio output: it reads nothing and ignores SIGTERM,
// so the writer blocks in a full pipe.
TEST_F(DecoderTest, HangingDecoderIsKilledAndTheModeStillLeavesInOrder) {
  const std::string pids = folder_.file("sink.pids");
  auto sim =
      start({}, {"FRAME_SINK_STALL=1", "FRAME_SINK_IGNORE_TERM=1", "FRAME_SINK_PID_FILE=" + pids});
  ASSERT_TRUE(wait_for_size(pids, 1)) << "the decoder did not start";
  sim->type("mn");
  std::this_thread::sleep_for(500ms);
  sim->type("x");
  size_t at = sim->wait_for(" leave mp3 modus\n");
  for (const char *step : {"3\n", "4\n", "5\n", "7\n", " KILL 0 ", "unmount 0\nand eject 1\n"}) {
    at = sim->wait_for(step, at);
    ASSERT_NE(at, std::string::npos) << step << "\n" << sim->output();
  }
  ASSERT_EQ(pids_in(pids).size(), 1u);
  EXPECT_FALSE(process_running(pids_in(pids)[0]));
  expect_nothing_left(*sim);
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

}  // namespace
