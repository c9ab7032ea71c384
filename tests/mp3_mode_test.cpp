// The MP3 mode as a person at the keys sees it: discbox-sim with a generated
// disc, keys typed on its standard input, and frame-sink as the decoder
// keeping every byte it received, which is checked frame by frame against
// the titles on the disc.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/eventually.h"
#include "support/frame_stamps.h"
#include "support/glass_text.h"
#include "support/processes.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t frame_bytes = 417;  // 128 kbit/s, as the disc generator writes by default
// The most that can be between the writer and the decoder: a pipe of 64 KiB,
// the writer's stream buffer and two frames.
constexpr size_t in_flight_bytes = 64 * 1024 + 8 * 1024 + 2 * frame_bytes;

// Where the received stream does not go on with the next frame of the same
// title: each jump as the frame before it and the frame after it.
std::vector<std::pair<frame_id, frame_id>> jumps(const std::vector<frame_id> &frames) {
  std::vector<std::pair<frame_id, frame_id>> found;
  for (size_t i = 1; i < frames.size(); ++i) {
    if (frames[i] != frame_id{frames[i - 1].title, frames[i - 1].index + 1}) {
      found.emplace_back(frames[i - 1], frames[i]);
    }
  }
  return found;
}

class Mp3ModeTest : public ::testing::Test {
 protected:
  std::string disc(const std::string &name, const std::vector<std::string> &entries,
                   const mkdisc::title_options &titles) {
    const std::string path = folder_.file(name);
    write_stamped_disc(path, entries, titles);
    return path;
  }

  std::unique_ptr<sim_process> start(std::vector<std::string> arguments,
                                     std::vector<std::string> environment = {},
                                     int run_for_seconds = 120) {
    environment.push_back("FRAME_SINK_OUTPUT=" + received_path());
    environment.push_back("FRAME_SINK_PID_FILE=" + folder_.file("sink.pids"));
    environment.push_back("FRAME_SINK_SPEED=4");
    arguments.insert(arguments.begin(),
                     {"--swap-delay", "0.2", "--run-for", std::to_string(run_for_seconds)});
    return std::make_unique<sim_process>(arguments, environment);
  }

  std::string received_path() const { return folder_.file("received"); }
  size_t received_bytes() const { return file_contents(received_path()).size(); }
  std::vector<frame_id> received() const { return received_frames(file_contents(received_path())); }
  // Waits until `frames` more frames than now have reached the decoder.
  bool more_frames(size_t frames) {
    return wait_for_size(received_path(), received_bytes() + frames * frame_bytes);
  }
  std::vector<pid_t> decoders() const { return pids_in(folder_.file("sink.pids")); }
  // Waits until `count` decoders have started, so that a test does not end
  // a mode before its decoder has said who it is.
  bool wait_until_decoders(size_t count) {
    return eventually([&] { return decoders().size() >= count; });
  }

  temporary_folder folder_;
};

TEST_F(Mp3ModeTest, StartsOnlyAfterStopThenStartAndFollowsTheKeys) {
  mkdisc::title_options titles;
  titles.frames = 600;
  auto sim = start({disc("disc", {"A/B/t1.mp3", "A/B/t2.mp3"}, titles)});
  size_t at = sim->wait_for("now\n");
  ASSERT_NE(at, std::string::npos) << sim->output();
  sim->type("n");
  at = sim->wait_for(" start\n", at);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(received_bytes(), 0u) << "N right after the start of the mode must start nothing";

  sim->type("mn");
  ASSERT_TRUE(more_frames(40));
  // A jump is pending until the reader's next pass, and B during it would
  // be taken as a resume: the frames after the echo show the pass was made.
  sim->type("r");
  at = sim->wait_for(" forward\n", at);
  ASSERT_TRUE(more_frames(40));
  sim->type("f");
  at = sim->wait_for(" rewind\n", at);
  ASSERT_TRUE(more_frames(40));

  sim->type("b");
  at = sim->wait_for(" pause\n", at);
  // What was on its way when the key was seen still arrives, at most the
  // pipe, the writer's stream buffer and the frame in hand; a pipeline that
  // went on playing would deliver far more at four times real time.
  const size_t paused = received_bytes();
  std::this_thread::sleep_for(2s);
  EXPECT_LE(received_bytes() - paused, in_flight_bytes)
      << "frames reached the decoder during a pause";
  sim->type("b");
  ASSERT_TRUE(more_frames(20));

  sim->type("m");
  wait_until_quiet(received_path(), 300ms);
  sim->type("n");
  ASSERT_TRUE(more_frames(20));
  // Stop straight from a pause, then start: the pause must not hold the
  // writer any more.
  sim->type("b");
  at = sim->wait_for(" pause\n", at);
  wait_until_quiet(received_path(), 300ms);
  sim->type("mn");
  ASSERT_TRUE(more_frames(20));
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n", at), std::string::npos) << sim->output();

  const std::vector<frame_id> frames = received();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), (frame_id{1, 0}));
  const auto found = jumps(frames);
  ASSERT_EQ(found.size(), 4u) << "forward, rewind, stop-start, pause-stop-start; nothing else";
  EXPECT_EQ(found[0].second.index, found[0].first.index + 30) << "forward skips 29 frames";
  EXPECT_EQ(found[1].second.index, found[1].first.index + 1 - 30) << "rewind goes back 30";
  EXPECT_EQ(found[2].second, (frame_id{1, 0}));
  EXPECT_EQ(found[3].second, (frame_id{1, 0}));
  for (const auto &[before, after] : found) EXPECT_EQ(before.title, 1);
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

TEST_F(Mp3ModeTest, PlaysTheNextTitleAtTheEndAndRepeatsTheLastOfTheAlbum) {
  mkdisc::title_options titles;
  titles.frames = 30;
  titles.tag = true;
  titles.insertions = {{10, 3, true}};  // three zero bytes after frame 10
  auto sim = start({disc("disc", {"A/B/t1.mp3", "A/B/t2.mp3"}, titles)});
  ASSERT_NE(sim->wait_for("now\n"), std::string::npos) << sim->output();
  sim->type("mn");
  ASSERT_TRUE(more_frames(100));
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();

  std::vector<frame_id> frames = received();
  ASSERT_GE(frames.size(), 100u);
  frames.resize(100);
  std::vector<frame_id> expected = frame_run(1, 0, 29);
  for (int repeat = 0; repeat < 3; ++repeat) {
    const auto run = frame_run(2, 0, 29);
    expected.insert(expected.end(), run.begin(), run.end());
  }
  expected.resize(100);
  EXPECT_EQ(frames, expected);
  const size_t searches = sim->count("found!!!!!!!!!!!!!!!!!!!!!!!!!!\n");
  EXPECT_GE(searches, 4u);
  EXPECT_EQ(sim->count("lost header... searching\n"), 3 * searches);
  EXPECT_GE(sim->count("titl groesser\n"), 2u);
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

// A title that cannot be played ends the mode; the player unmounts and
// ejects as after leaving, and no decoder stays behind.
TEST_F(Mp3ModeTest, TitleThatCannotBePlayedEndsTheModeAndTheDecoder) {
  mkdisc::title_options titles;
  titles.frames = 20;
  const std::string folder_title = disc("folder", {"A/B/0 folder/", "A/B/t1.mp3"}, titles);
  const std::string vanishing = disc("vanishing", {"A/B/t1.mp3"}, titles);
  // A decoder that never reads: it would not end by itself at the end of
  // its input.
  auto sim = start({folder_title, vanishing}, {"FRAME_SINK_STALL=1"});

  size_t at = sim->wait_for("now\n");
  ASSERT_NE(at, std::string::npos) << sim->output();
  ASSERT_TRUE(wait_until_decoders(1));
  sim->type("mn");
  at = sim->wait_for("UNABLE TO OPEN FILE 2 !!!\n EXITING :-((((((((((\n", at);
  ASSERT_NE(at, std::string::npos) << sim->output();
  at = sim->wait_for("unmount 0\nand eject 1\n", at);
  ASSERT_NE(at, std::string::npos) << sim->output();

  at = sim->wait_for("now\n", at);
  ASSERT_NE(at, std::string::npos) << sim->output();
  ASSERT_TRUE(wait_until_decoders(2));
  std::filesystem::remove(vanishing + "/A/B/t1.mp3");
  sim->type("mn");
  at = sim->wait_for("UNABLE TO OPEN FILE 1 !!!\n EXITING :-((((((((((\n", at);
  ASSERT_NE(at, std::string::npos) << sim->output();
  ASSERT_NE(sim->wait_for("unmount 0\nand eject 1\n", at), std::string::npos) << sim->output();

  ASSERT_EQ(decoders().size(), 2u);
  for (pid_t decoder : decoders()) EXPECT_FALSE(process_running(decoder)) << decoder;
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

TEST_F(Mp3ModeTest, FiftyDiscsPlayedAndLeftLeaveNoProcessOrDescriptorBehind) {
  constexpr int cycles = 50;
  mkdisc::title_options titles;
  titles.frames = 100;
  const std::string folder = disc("disc", {"A/B/t1.mp3"}, titles);
  auto sim = start(std::vector<std::string>(cycles, folder), {}, 600);
  pid_t player = 0;
  int player_descriptors = 0;
  size_t at = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    at = sim->wait_for("now\n", at);
    ASSERT_NE(at, std::string::npos) << "cycle " << cycle << "\n" << sim->output();
    sim->type("mn");
    ASSERT_TRUE(more_frames(5)) << "cycle " << cycle;
    sim->type("x");
    at = sim->wait_for("and eject 1\n", at);
    ASSERT_NE(at, std::string::npos) << "cycle " << cycle << "\n" << sim->output();

    const std::vector<pid_t> players = child_processes(sim->pid());
    ASSERT_EQ(players.size(), 1u) << "cycle " << cycle << ": an orphan reached the simulator";
    EXPECT_TRUE(child_processes(players[0]).empty()) << "cycle " << cycle;
    if (cycle == 1) {
      player = players[0];
      player_descriptors = descriptors_of(player);
    }
  }
  EXPECT_EQ(descriptors_of(player), player_descriptors);
  EXPECT_EQ(decoders().size(), static_cast<size_t>(cycles));
  for (pid_t decoder : decoders()) EXPECT_FALSE(process_running(decoder)) << decoder;
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

// Keys typed before the mode has scanned its disc are taken during the
// scan: X leaves at once, before the library is complete, with the leave
// lines of what exists then (no threads, no decoder), and the disc comes
// out as after any leave.
TEST_F(Mp3ModeTest, XDuringTheScanLeavesBeforeAnythingElseStarts) {
  mkdisc::title_options titles;
  titles.frames = 2;
  const std::string folder = disc("disc", {"A/B/t1.mp3", "A/B/t2.mp3", "C/D/t3.mp3"}, titles);
  auto sim = start({folder});
  sim->type("x");
  const size_t at = sim->wait_for(" leave mp3 modus\n 1\n7\n");
  ASSERT_NE(at, std::string::npos) << sim->output();
  ASSERT_NE(sim->wait_for("unmount 0\nand eject 1\n", at), std::string::npos) << sim->output();
  const std::string console = sim->output();
  EXPECT_NE(console.find("Open CD.\n"), std::string::npos);
  EXPECT_EQ(console.find(" Stopped1"), std::string::npos) << console;
  EXPECT_EQ(console.find("KILL"), std::string::npos) << console;
  EXPECT_EQ(console.find("Create read thread"), std::string::npos) << console;
  EXPECT_TRUE(decoders().empty());
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

// Other keys typed during the scan wait for the key loop, in their order:
// M then N starts title 1 (N then M would leave it stopped).
TEST_F(Mp3ModeTest, KeysTypedDuringTheScanKeepTheirOrder) {
  mkdisc::title_options titles;
  titles.frames = 40;
  auto sim = start({disc("disc", {"A/B/t1.mp3", "A/B/t2.mp3"}, titles)});
  sim->type("qmn");
  size_t at = sim->wait_for(" Stopped1");
  ASSERT_NE(at, std::string::npos) << sim->output();
  at = sim->wait_for(" next ipret\n", at);
  ASSERT_NE(at, std::string::npos) << sim->output();
  at = sim->wait_for(" stop \n", at);
  ASSERT_NE(at, std::string::npos) << sim->output();
  ASSERT_NE(sim->wait_for(" start\n", at), std::string::npos) << sim->output();
  ASSERT_TRUE(more_frames(5));
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();
  EXPECT_EQ(received().front(), (frame_id{1, 0}));
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

// Names with terminal queries and screen sequences: the console shows them
// as escapes, the display (and so its log) a "?" for each control
// character, one record a line; nothing the terminal would act on leaves
// the simulator.
TEST_F(Mp3ModeTest, ControlBytesInNamesReachNeitherConsoleNorDisplayLog) {
  mkdisc::title_options titles;
  titles.frames = 5;
  const std::string folder = disc("disc", {"A/B/t1.mp3"}, titles);
  const std::string name =
      "q\x1b[5n\x1b[6n\x1b[>q\x1b[2J\nR\x7f\xc2\x9b"
      "6n.mp3";
  std::filesystem::rename(folder + "/A/B/t1.mp3", folder + "/A/B/" + name);
  const std::string log = folder_.file("display.log");
  auto sim = start({"--display-log", log, folder});
  size_t at = sim->wait_for("now\n");
  ASSERT_NE(at, std::string::npos) << sim->output();
  sim->type("mn");
  ASSERT_NE(sim->wait_for("Open ", at), std::string::npos) << sim->output();
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();

  const std::string shown = "q\\x1b[5n\\x1b[6n\\x1b[>q\\x1b[2J\\x0aR\\x7f\\xc2\\x9b6n.mp3";
  EXPECT_NE(sim->output().find("/A/B/" + shown + "\n"), std::string::npos) << sim->output();
  for (const char c : sim->output()) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte == '\n' || (byte >= 0x20 && byte != 0x7f && byte < 0x80)) << int{byte};
  }
  bool title_logged = false;
  for (const std::string &record : read_lines(log)) {
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record.front(), '|') << record;
    EXPECT_EQ(record.back(), '|') << record;
    EXPECT_EQ(std::count(record.begin(), record.end(), '|'), 3) << record;
    for (const char c : record) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << record;
    title_logged =
        title_logged || record.find("|q?[5n?[6n?[>q?[2J?R??6n.mp3 ") != std::string::npos;
  }
  EXPECT_TRUE(title_logged);
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

// The simulator's display log reads the names as the glass of the box
// shows them, and the patterns log holds the letters drawn for them.
TEST_F(Mp3ModeTest, DisplayLogReadsNamesAsWritten) {
  mkdisc::title_options titles;
  titles.frames = 5;
  const std::vector<std::string> names = {"01 Björk.mp3", "02 Sigur Rós – Hoppípolla.mp3",
                                          "04 Łódź Øre Ñandú.mp3", "06 Back\\Slash~Tilde.mp3"};
  std::vector<std::string> entries;
  for (const std::string &name : names) entries.push_back("Mötley Crüe/Ärger in Åre/" + name);
  const std::string folder = disc("disc", entries, titles);
  const std::string log = folder_.file("display.log"), patterns = folder_.file("patterns.log");
  auto sim = start({"--display-log", log, "--patterns-log", patterns, folder});
  size_t at = sim->wait_for("now\n");
  ASSERT_NE(at, std::string::npos) << sim->output();
  for (int title = 1; title < 4; ++title) {
    sim->type("e");
    at = sim->wait_for("Binterp1album1title" + std::to_string(title + 1), at);
    ASSERT_NE(at, std::string::npos) << sim->output();
  }
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();

  const std::vector<std::string> records = read_lines(log);
  for (const std::string title : {"01 Björk.mp3", "02 Sigur Rós - Hoppípolla.mp3",
                                  "04 Łódź Øre Ñandú.mp3", "06 Back\\Slash~Tilde.mp3"}) {
    const std::string screen =
        "|" + glass_line("Mötley Crüe -- Ärger in Åre") + "|" + glass_line(title) + "|";
    EXPECT_NE(std::find(records.begin(), records.end(), screen), records.end()) << screen;
  }
  const std::string drawings = file_contents(patterns);
  EXPECT_NE(drawings.find("0 Ä   1 Å   2 \\   3 ~   4 "), std::string::npos) << drawings;
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

// A module with ROM A02: the simulator's glass is that module's, and the
// player, told so through LCD_ROM over what the environment said, sends
// Latin-1 from the ROM and draws only what A02 lacks: Ø, whose code there
// shows Φ.
TEST_F(Mp3ModeTest, DisplayLogOfAnA02ModuleReadsNamesAsWritten) {
  mkdisc::title_options titles;
  titles.frames = 5;
  const std::string folder = disc("disc", {"Øystein Sevåg/Caffè Grieg/01 Ørnulf – é.mp3"}, titles);
  const std::string log = folder_.file("display.log"), patterns = folder_.file("patterns.log");
  auto sim = start({"--lcd-rom", "A02", "--display-log", log, "--patterns-log", patterns, folder},
                   {"LCD_ROM=A00"});
  ASSERT_NE(sim->wait_for("now\n"), std::string::npos) << sim->output();
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();

  const std::vector<std::string> records = read_lines(log);
  const std::string screen = "|" + glass_line("Øystein Sevåg -- Caffè Grieg") + "|" +
                             glass_line("01 Ørnulf - é.mp3") + "|";
  EXPECT_NE(std::find(records.begin(), records.end(), screen), records.end()) << screen;
  const std::string drawings = file_contents(patterns);
  EXPECT_NE(drawings.find("0 Ø   1 "), std::string::npos) << drawings;
  for (const char *from_rom : {"å", "è", "é"}) {
    EXPECT_EQ(drawings.find(from_rom), std::string::npos) << from_rom << "\n" << drawings;
  }
  EXPECT_EQ(sim->count("LCD_ROM"), 0u) << sim->output();
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

}  // namespace
