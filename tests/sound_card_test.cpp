// The sound card behind the PCM player stand-in, fed arrival times: it
// starts once its buffer is full, plays at its rate, and an underrun is the
// silence from the moment the buffer ran dry until the card played again;
// and the stand-in's report of underruns.
#include "sound_card.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "support/eventually.h"
#include "support/processes.h"
#include "support/sim_process.h"
#include "util/child_process.h"
#include "util/unique_fd.h"

namespace {

constexpr std::int64_t ms = 1000000;

// 1000 bytes a second and a buffer of 100 bytes: a byte is a millisecond.
sink::sound_card card() { return sink::sound_card(100, 1000); }

TEST(SoundCard, StartsWhenTheBufferIsFullAndMakesTheWriterWaitForRoom) {
  sink::sound_card c = card();
  EXPECT_EQ(c.room_at(0, 60), 0);
  EXPECT_FALSE(c.arrive(0, 60));
  EXPECT_EQ(c.played(50 * ms), 0u) << "not started below a full buffer";
  EXPECT_FALSE(c.arrive(10 * ms, 40));
  EXPECT_EQ(c.played(30 * ms), 20u);
  EXPECT_EQ(c.room_at(30 * ms, 40), 50 * ms) << "room once 40 bytes have played";
  EXPECT_EQ(c.drained_at(30 * ms), 110 * ms);
}

TEST(SoundCard, DryBufferIsAnUnderrunUntilTheCardRestarts) {
  sink::sound_card c = card();
  c.arrive(0, 100);
  c.arrive(50 * ms, 50);  // enough for 150 ms from the start
  EXPECT_FALSE(c.dry(149 * ms));
  EXPECT_TRUE(c.dry(151 * ms));
  EXPECT_FALSE(c.arrive(400 * ms, 60)) << "below a full buffer the card stays silent";
  const auto silence = c.arrive(450 * ms, 40);
  ASSERT_TRUE(silence);
  EXPECT_EQ(silence->start, 150 * ms);
  EXPECT_EQ(silence->length, 300 * ms);
  EXPECT_EQ(silence->offset, 150u);
  EXPECT_EQ(c.played(460 * ms), 160u);
}

TEST(SoundCard, WriterThatKeepsUpCausesNoUnderrun) {
  sink::sound_card c = card();
  std::int64_t now = 0;
  for (int i = 0; i < 100; ++i) {
    now = c.room_at(now, 10);
    EXPECT_FALSE(c.arrive(now, 10)) << "arrival " << i;
  }
  EXPECT_FALSE(c.dry(now));
}

// pcm-sink with its logs, made before the fork: the child only executes.
struct sink_program {
  std::string path = built_program("tools/pcm-sink/pcm-sink");
  std::vector<std::string> environment;
  std::vector<char *> envp;

  static void run(const util::program_file &file, void *self) {
    const auto &sink = *static_cast<const sink_program *>(self);
    char *const arguments[] = {const_cast<char *>(sink.path.c_str()),
                               const_cast<char *>("--buffer-time"), const_cast<char *>("100000"),
                               const_cast<char *>("-"), nullptr};
    file.execute(arguments, sink.envp.data());
  }
};

// The stand-in as the player starts it, fed through a pipe: starved, it
// says it is dry when asked; fed again, it logs the underrun it heard.
TEST(PcmSink, ReportsEachUnderrunAndTheCountOnRequest) {
  temporary_folder folder;
  const std::string log = folder.file("underruns");
  sink_program program;
  program.environment = {"PCM_SINK_UNDERRUNS=" + log, "PCM_SINK_PID_FILE=" + folder.file("pid")};
  for (char **variable = environ; *variable != nullptr; ++variable) {
    if (!std::string_view(*variable).starts_with("PCM_SINK_"))
      program.environment.push_back(*variable);
  }
  for (std::string &variable : program.environment) program.envp.push_back(variable.data());
  program.envp.push_back(nullptr);
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  util::unique_fd input(ends[1]);
  util::child_process sink =
      util::child_process::start(ends[0], program.path.c_str(), sink_program::run, &program);
  close(ends[0]);
  ASSERT_TRUE(sink.running());
  const pid_t child = sink.pid();
  // It takes requests once it has written its pid.
  ASSERT_TRUE(eventually([&] { return !pids_in(folder.file("pid")).empty(); }));
  const std::vector<char> audio(20 * 2352);  // 267 ms: the card starts
  ASSERT_EQ(write(input.get(), audio.data(), audio.size()), static_cast<ssize_t>(audio.size()));
  ASSERT_TRUE(eventually([&] {
    kill(child, SIGUSR1);
    const auto lines = read_lines(log);
    return !lines.empty() && lines.back().ends_with(" 1");
  })) << "starved, it says it is dry";
  ASSERT_EQ(write(input.get(), audio.data(), audio.size()), static_cast<ssize_t>(audio.size()));
  input.reset();
  sink.wait();
  const auto lines = read_lines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.front().starts_with("underruns 0 0 ")) << lines.front();
  // The starved sink heard silence after the first piece. (A sink that the
  // machine leaves unscheduled for longer than its buffer hears more.)
  const auto underrun = std::find_if(lines.begin(), lines.end(), [&](const std::string &line) {
    std::int64_t start = 0, length = 0;
    unsigned long long offset = 0;
    return std::sscanf(line.c_str(), "underrun %ld %ld %llu", &start, &length, &offset) == 3 &&
           length > 0 && offset == audio.size();
  });
  EXPECT_NE(underrun, lines.end()) << ::testing::PrintToString(lines);
}

}  // namespace
