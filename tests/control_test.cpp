// The mode-selection loop as a person meets it: discs go in, the prompt,
// the mode, the eject, the next disc. Driven through discbox-sim.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/processes.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;

// Processor time (user + system, in clock ticks) that process `pid` used.
long processor_ticks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stol(field);
    if (i == 15) system = std::stol(field);
  }
  return user + system;
}

bool any_line_contains(const std::vector<std::string> &lines, const std::string &text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string &line) { return line.find(text) != std::string::npos; });
}

// Waits for the `count`th occurrence of `text`; the offset past it, or npos.
size_t wait_for_nth(sim_process &sim, const std::string &text, int count) {
  size_t at = 0;
  for (int i = 0; i < count && at != std::string::npos; ++i) at = sim.wait_for(text, at);
  return at;
}

TEST(ModeSelection, EmptyDrivePromptsOnceASecond) {
  temporary_folder folder;
  const auto began = std::chrono::steady_clock::now();
  sim_process sim({"--run-for", "120", "--display-log", folder.file("display"), "empty"});
  ASSERT_NE(wait_for_nth(sim, "check cd...\n", 3), std::string::npos) << sim.output();
  // The first prompt came after `began`; a slow machine only spaces them more.
  EXPECT_GE(std::chrono::steady_clock::now() - began, 1900ms) << "prompts must be a second apart";
  const std::string output = sim.output();
  // The display's way is said once, before the display starts.
  EXPECT_EQ(output.rfind("\n\ncontrol started...\ndisplay: /dev/parport0\nWWWWWW\niopl 0\n", 0), 0u)
      << output;
  EXPECT_EQ(sim.count("modus.."), 0u);
  // The display is rewritten at every prompt: look for a whole one.
  const auto shown = read_lines(folder.file("display"));
  const std::string prompt =
      "|Bitte CD einlegen...                    |" + std::string(40, ' ') + "|";
  EXPECT_NE(std::find(shown.begin(), shown.end(), prompt), shown.end()) << output;
}

// lp on the port: the player leaves the kernel's driver to it, says so,
// and draws through raw port I/O instead of waiting for the port.
TEST(ModeSelection, PortHeldByAnotherDriverFallsBackToRawPortIO) {
  temporary_folder folder;
  sim_process sim(
      {"--run-for", "120", "--parport", "held", "--display-log", folder.file("display"), "empty"});
  // The second prompt's line comes after the first prompt was drawn.
  ASSERT_NE(wait_for_nth(sim, "check cd...\n", 2), std::string::npos) << sim.output();
  EXPECT_EQ(sim.count("display: "), 1u) << sim.output();
  EXPECT_EQ(sim.count("display: raw port I/O (/dev/parport0 held by another driver)\n"), 1u);
  // The display is rewritten at every prompt: look for a whole one.
  const auto shown = read_lines(folder.file("display"));
  const std::string prompt =
      "|Bitte CD einlegen...                    |" + std::string(40, ' ') + "|";
  EXPECT_NE(std::find(shown.begin(), shown.end(), prompt), shown.end()) << sim.output();
}

TEST(ModeSelection, BlankDiscIsNeitherPlayedNorMountedNorEjected) {
  temporary_folder folder;
  sim_process sim({"--run-for", "120", "--drive-log", folder.file("drive"), "blank"});
  ASSERT_NE(wait_for_nth(sim, "check cd...\n", 2), std::string::npos) << sim.output();
  EXPECT_EQ(sim.count("modus.."), 0u);
  auto requests = read_lines(folder.file("drive"));
  EXPECT_FALSE(any_line_contains(requests, "EJECT"));
}

TEST(ModeSelection, AudioDiscIsPlayedThenEjectedAndTheNextDiscGoesIn) {
  temporary_folder folder;
  sim_process sim(
      {"--swap-delay", "1", "--drive-log", folder.file("drive"), "audio:20,20", "audio:20"});
  size_t at = sim.wait_for("audio modus..\n");
  ASSERT_NE(at, std::string::npos) << sim.output();
  at = sim.wait_for("init1\n", at);
  ASSERT_NE(at, std::string::npos);
  // The second X waits in the key channel until the next disc's mode reads it.
  sim.type("XX");
  at = sim.wait_for(" eject cd-a\n and eject 1\n", at);
  ASSERT_NE(at, std::string::npos) << sim.output();
  at = sim.wait_for("audio modus..\n", at);
  ASSERT_NE(at, std::string::npos) << sim.output();
  at = sim.wait_for(" eject cd-a\n and eject 1\n", at);
  EXPECT_NE(at, std::string::npos) << sim.output();
  EXPECT_EQ(sim.count("unknown KEY"), 0u);
  auto requests = read_lines(folder.file("drive"));
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const std::string &line) { return line.rfind("EJECT", 0) == 0; }),
            2);
}

// Every process of the simulation is gone when --run-for ends it.
TEST(ModeSelection, NothingOutlivesTheSimulation) {
  // Long enough for the audio mode to start on a loaded machine.
  sim_process sim({"--run-for", "8", "audio:30"});
  ASSERT_NE(sim.wait_for("init1\n"), std::string::npos);
  std::ifstream children("/proc/" + std::to_string(sim.pid()) + "/task/" +
                         std::to_string(sim.pid()) + "/children");
  pid_t player = 0;
  children >> player;
  ASSERT_GT(player, 0);
  EXPECT_EQ(sim.wait_exit(), 0);
  for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    char state;
    int parent, group;
    fields >> state >> parent >> group;
    EXPECT_NE(group, player) << "left behind: " << line;
  }
  EXPECT_EQ(kill(player, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

// A folder that mounts as an MP3 disc: one artist, one album, `titles`
// titles of one frame each.
std::string write_mp3_disc(const temporary_folder &folder, const std::string &name, int titles) {
  std::string frame(417, '\0');
  frame[0] = '\xFF';
  frame[1] = '\xFB';
  frame[2] = '\x90';
  frame[3] = '\xC4';
  const std::filesystem::path album = folder.file(name) + "/artist/album";
  std::filesystem::create_directories(album);
  for (int title = 1; title <= titles; ++title) {
    std::ofstream(album / ("t" + std::to_string(title) + ".mp3"), std::ios::binary) << frame;
  }
  return folder.file(name);
}

// On a drive that cannot report audio status every status query closes the
// device. The disc must still come out after X, stay out (the tray is not
// pulled back in by the next poll), and the next disc must be played.
TEST(ModeSelection, DriveWithoutAudioStatusEjectsTheMp3DiscAndTakesTheNext) {
  temporary_folder folder;
  sim_process sim({"--data-only-drive", "--swap-delay", "3", "--drive-log", folder.file("drive"),
                   write_mp3_disc(folder, "one", 1), write_mp3_disc(folder, "two", 2)});
  size_t at = sim.wait_for(" Stopped2 Titel:1\n");
  ASSERT_NE(at, std::string::npos) << sim.output();
  at = sim.wait_for("now\n", at);
  sim.type("x");
  at = sim.wait_for("unmount 0\nand eject 1\n", at);
  ASSERT_NE(at, std::string::npos) << sim.output();
  // While the tray stands open the loop prompts again, without a mode.
  const std::string mp3_mode = "mp3 modus..\n";
  const size_t next = sim.wait_for(mp3_mode, at);
  ASSERT_NE(next, std::string::npos) << sim.output();
  const std::string between = sim.output().substr(at, next - mp3_mode.size() - at);
  EXPECT_GE(std::count(between.begin(), between.end(), '\n'), 2) << between;
  EXPECT_EQ(between.find("modus"), std::string::npos) << between;
  ASSERT_NE(sim.wait_for(" Stopped2 Titel:2\n", next), std::string::npos) << sim.output();
  sim.type("x");
  ASSERT_NE(sim.wait_for("unmount 0\nand eject 1\n", next), std::string::npos) << sim.output();
  EXPECT_EQ(sim.count(" Stopped2 Titel:1\n"), 1u) << "the first disc was played once";
  auto requests = read_lines(folder.file("drive"));
  EXPECT_FALSE(any_line_contains(requests, "TRAY closed"));
}

// With the key input at its end the mode keeps waiting for keys, but it
// must wait, not spin on the end of the input.
TEST(ModeSelection, EndOfTheKeyInputIsWaitedOnWithoutSpinning) {
  sim_process sim({"audio:60"});
  ASSERT_NE(sim.wait_for("init1\n"), std::string::npos) << sim.output();
  sim.close_keys();
  auto players = child_processes(sim.pid());
  ASSERT_EQ(players.size(), 1u);
  std::this_thread::sleep_for(500ms);
  long before = processor_ticks(players[0]);
  std::this_thread::sleep_for(3s);
  long used = processor_ticks(players[0]) - before;
  // A spinning reader would use the whole 3 s (300 ticks at 100 Hz).
  EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 2);
  EXPECT_TRUE(process_running(players[0]));
}

}  // namespace
