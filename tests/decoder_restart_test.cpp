// A decoder that ends while the MP3 mode plays: the mode reports how it
// ended, starts the next one with the attempt count going on, and the stream
// goes on in whole frames; leaving the mode ends whichever decoder runs.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "support/frame_stamps.h"
#include "support/processes.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t frame_bytes = 417;
constexpr size_t first_decoder_bytes = 8192;  // it dies after these

class DecoderRestartTest : public ::testing::Test {
 protected:
  std::string received_path() const { return folder_.file("received"); }
  std::string pid_file() const { return folder_.file("sink.pids"); }
  size_t received_bytes() const { return file_contents(received_path()).size(); }
  bool more_frames(size_t frames) {
    return wait_for_size(received_path(), received_bytes() + frames * frame_bytes, 120s);
  }

  temporary_folder folder_;
};

TEST_F(DecoderRestartTest, DecoderThatEndsIsReplacedAndTheStreamGoesOnInWholeFrames) {
  mkdisc::title_options titles;
  titles.frames = 2000;
  const std::string disc = folder_.file("disc");
  write_stamped_disc(disc, {"A/B/t1.mp3"}, titles);
  sim_process sim(
      {"--swap-delay", "100", "--run-for", "300", disc},
      {"FRAME_SINK_OUTPUT=" + received_path(), "FRAME_SINK_PID_FILE=" + pid_file(),
       "FRAME_SINK_SPEED=8", "FRAME_SINK_EXIT_AFTER=" + std::to_string(first_decoder_bytes),
       "FRAME_SINK_EXIT_ONCE=" + folder_.file("died")});
  size_t at = sim.wait_for("now\n");
  ASSERT_NE(at, std::string::npos) << sim.output();
  sim.type("mn");
  at = sim.wait_for("mpg123 ended with exit status 3\n", at, 120s);
  ASSERT_NE(at, std::string::npos) << sim.output();
  at = sim.wait_for("Try to start the mp3 player the 2. time...\n", at);
  ASSERT_NE(at, std::string::npos) << sim.output();
  ASSERT_TRUE(more_frames(40)) << sim.output();

  // The second one is killed; keys keep working meanwhile.
  const std::vector<pid_t> first_two = pids_in(pid_file());
  ASSERT_EQ(first_two.size(), 2u);
  const std::string stream_of_two = file_contents(received_path());
  kill(first_two[1], SIGKILL);
  at = sim.wait_for("mpg123 ended by signal 9\n", at);
  ASSERT_NE(at, std::string::npos) << sim.output();
  sim.type("b");
  at = sim.wait_for(" pause\n", at);
  ASSERT_NE(at, std::string::npos) << sim.output();
  at = sim.wait_for("Try to start the mp3 player the 3. time...\n", at);
  ASSERT_NE(at, std::string::npos) << sim.output();
  sim.type("b");
  ASSERT_TRUE(more_frames(20)) << sim.output();
  sim.type("x");
  ASSERT_NE(sim.wait_for("and eject 1\n", at), std::string::npos) << sim.output();

  // One line for each end, one attempt line for each start, and nothing
  // printed into the middle of an attempt line.
  EXPECT_EQ(sim.count("mpg123 ended "), 2u);
  EXPECT_EQ(sim.count("Try to start the mp3 player the "), 3u);
  EXPECT_EQ(sim.count(" time...\n"), 3u);
  EXPECT_EQ(sim.count("mpg123 died unexpected\n"), 0u);
  const std::vector<pid_t> decoders = pids_in(pid_file());
  ASSERT_EQ(decoders.size(), 3u);
  for (pid_t decoder : decoders) EXPECT_FALSE(process_running(decoder)) << decoder;
  const std::vector<pid_t> players = child_processes(sim.pid());
  ASSERT_EQ(players.size(), 1u);
  EXPECT_TRUE(child_processes(players[0]).empty());

  // The first decoder got the title from its first frame on (cut where it
  // died); the second got whole frames in order, going on from a later one.
  ASSERT_GT(stream_of_two.size(), first_decoder_bytes);
  const std::vector<frame_id> first = received_frames(stream_of_two.substr(0, first_decoder_bytes));
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first, frame_run(1, 0, first.back().index));
  const std::vector<frame_id> second = received_frames(stream_of_two.substr(first_decoder_bytes));
  ASSERT_GE(second.size(), 40u);
  EXPECT_GT(second.front().index, first.back().index);
  EXPECT_EQ(second, frame_run(1, second.front().index, second.back().index));
  EXPECT_FALSE(has_sanitizer_report(sim.errors())) << sim.errors();
}

}  // namespace
