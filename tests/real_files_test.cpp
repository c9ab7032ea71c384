// Files as encoders write them: a few seconds of synthetic music made with
// sox, encoded with lame and twolame in every kind a user burns, streamed by
// discbox-sim into frame-sink, and compared byte for byte with the frames of
// each file. The frames of a file are found with the disc generator's own
// tables, not with the player's header rule.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "mkdisc/title_audio.h"
#include "mp3/mpeg_header.h"
#include "support/eventually.h"
#include "support/frame_stamps.h"
#include "support/processes.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;

struct encoding {
  const char *file;  // in the album folder; the names sort in play order
  const char *kind;
  const char *command;  // makes $out from $in (a WAV file)
};

const encoding every_kind[] = {
    {"01.mp3", "MPEG-1 Layer III 44.1 kHz CBR 128", "lame --quiet -b 128 $in $out"},
    {"02.mp3", "MPEG-1 Layer III 44.1 kHz CBR 192", "lame --quiet -b 192 $in $out"},
    {"03.mp3", "MPEG-1 Layer III 44.1 kHz CBR 320", "lame --quiet -b 320 $in $out"},
    {"04.mp3", "MPEG-1 Layer III 44.1 kHz VBR V0, Info frame", "lame --quiet -V 0 $in $out"},
    {"05.mp3", "MPEG-1 Layer III 44.1 kHz CBR 128 with CRC", "lame --quiet -p -b 128 $in $out"},
    {"06.mp3", "MPEG-1 Layer III 44.1 kHz CBR 128, ID3v2 + ID3v1",
     "lame --quiet --add-id3v2 --tt Song --ta Band --tl Album -b 128 $in $out"},
    {"07.mp3", "MPEG-1 Layer III 48 kHz 128", "lame --quiet --resample 48 -b 128 $in $out"},
    {"08.mp3", "MPEG-1 Layer III 32 kHz 128", "lame --quiet --resample 32 -b 128 $in $out"},
    {"09.mp3", "MPEG-2 Layer III 22.05 kHz 64", "lame --quiet --resample 22.05 -b 64 $in $out"},
    {"10.mp3", "MPEG-2 Layer III 24 kHz 64", "lame --quiet --resample 24 -b 64 $in $out"},
    {"11.mp3", "MPEG-2 Layer III 16 kHz mono VBR", "lame --quiet -m m --resample 16 -V 5 $in $out"},
    {"12.mp3", "MPEG-2.5 Layer III 11.025 kHz", "lame --quiet --resample 11.025 -b 32 $in $out"},
    {"13.mp3", "MPEG-1 Layer II 44.1 kHz 192", "twolame --quiet -b 192 $in $out"},
};

void run(const std::string &command) {
  ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0)
      << command << " failed: scripts/install-deps.sh test installs sox, lame and twolame";
}

// Mixed tones, a sweep and noise: every frame of it differs from the others.
std::string make_music(const std::string &folder, int seconds) {
  const std::string wav = folder + "/music.wav";
  run("sox -n -r 44100 -b 16 -c 2 " + wav + " synth " + std::to_string(seconds) +
      " sine 220:880 pinknoise tremolo 6 vol 0.5");
  return wav;
}

std::string encode(const encoding &kind, const std::string &wav, const std::string &out) {
  std::string command = kind.command;
  command.replace(command.find("$in"), 3, wav);
  command.replace(command.find("$out"), 4, out);
  run(command);
  return out;
}

// A file's frames, after a leading ID3v2 tag, up to a "TAG" block; the walk
// has to meet the tag block or the end exactly, or the file is no plain run
// of frames.
std::vector<std::string> frames_of(const std::string &bytes) {
  std::vector<std::string> frames;
  size_t at = bytes.size() >= id3v2_header_length
                  ? id3v2_tag_length(reinterpret_cast<const std::uint8_t *>(bytes.data()))
                  : 0;
  while (at + 4 <= bytes.size() && bytes.compare(at, 3, "TAG") != 0) {
    mkdisc::frame_format format;
    bool padded = false;
    const auto *header = reinterpret_cast<const std::uint8_t *>(bytes.data() + at);
    if (!mkdisc::read_frame_format(header, format, padded)) break;
    const size_t length = mkdisc::frame_length(format, padded);
    if (at + length > bytes.size()) break;
    frames.push_back(bytes.substr(at, length));
    at += length;
  }
  const bool tag_block = at + 128 == bytes.size() && bytes.compare(at, 3, "TAG") == 0;
  EXPECT_TRUE(at == bytes.size() || tag_block) << "a frame walk stopped at " << at;
  return frames;
}

class RealFilesTest : public ::testing::Test {
 protected:
  std::unique_ptr<sim_process> start(const std::string &disc, const std::string &speed) {
    std::vector<std::string> environment = {"FRAME_SINK_OUTPUT=" + received_path()};
    if (speed == "0") {
      environment.push_back("FRAME_SINK_PACE=0");
    } else {
      environment.push_back("FRAME_SINK_SPEED=" + speed);
    }
    auto sim = std::make_unique<sim_process>(
        std::vector<std::string>{"--swap-delay", "100", "--run-for", "300", disc}, environment);
    EXPECT_NE(sim->wait_for("now\n"), std::string::npos) << sim->output();
    return sim;
  }
  std::string received_path() const { return folder_.file("received"); }
  std::string received() const { return file_contents(received_path()); }
  std::string album() const { return folder_.file("disc/Artist/Album"); }
  void make_album() { std::filesystem::create_directories(album()); }

  temporary_folder folder_;
};

TEST_F(RealFilesTest, EveryKindOfFileReachesTheDecoderWholeAndInOrder) {
  make_album();
  const std::string wav = make_music(folder_.path(), 3);
  std::vector<std::vector<std::string>> titles;
  std::string expected;
  for (const encoding &kind : every_kind) {
    titles.push_back(frames_of(file_contents(encode(kind, wav, album() + "/" + kind.file))));
    ASSERT_GT(titles.back().size(), 50u) << kind.kind;
    for (const std::string &frame : titles.back()) expected += frame;
  }
  auto sim = start(folder_.file("disc"), "0");
  sim->type("mn");
  ASSERT_TRUE(wait_for_size(received_path(), expected.size(), 120s)) << sim->output();
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();

  // Title by title: how many frames came whole, in order, where they belong.
  const std::string stream = received();
  size_t at = 0;
  for (size_t t = 0; t < titles.size(); ++t) {
    size_t intact = 0;
    for (const std::string &frame : titles[t]) {
      if (stream.compare(at, frame.size(), frame) != 0) break;
      at += frame.size();
      ++intact;
    }
    std::printf("%-50s %zu of %zu frames intact\n", every_kind[t].kind, intact, titles[t].size());
    EXPECT_EQ(intact, titles[t].size()) << every_kind[t].kind;
  }
  EXPECT_EQ(stream.compare(0, expected.size(), expected), 0);
  EXPECT_EQ(sim->count("lost header"), 0u);
  EXPECT_EQ(sim->count("WRONG FRAME SIZE"), 0u);
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

// Rewind on variable-length frames: every byte the decoder gets belongs to a
// whole frame of the file, and each rewind lands 30 frames back.
TEST_F(RealFilesTest, RewindOnVbrAndOn320LandsOnFrameStarts) {
  make_album();
  const std::string wav = make_music(folder_.path(), 10);
  const encoding kinds[] = {every_kind[3], every_kind[2]};  // VBR V0, then CBR 320
  std::map<std::string, frame_id> where;                    // frame bytes to title and index
  for (int t = 0; t < 2; ++t) {
    const std::vector<std::string> frames = frames_of(
        file_contents(encode(kinds[t], wav, album() + "/" + std::to_string(t + 1) + ".mp3")));
    for (size_t i = 0; i < frames.size(); ++i) {
      ASSERT_TRUE(where.emplace(frames[i], frame_id{t + 1, static_cast<int>(i)}).second)
          << "frames must differ to be told apart";
    }
  }
  // The frames received so far, by title and index; junk as title -1.
  auto received_ids = [&] {
    std::vector<frame_id> ids;
    const std::string stream = received();
    for (size_t at = 0; at + 4 <= stream.size();) {
      mkdisc::frame_format format;
      bool padded = false;
      const auto *header = reinterpret_cast<const std::uint8_t *>(stream.data() + at);
      if (!mkdisc::read_frame_format(header, format, padded)) {
        ids.push_back({-1, static_cast<int>(at)});
        break;
      }
      const size_t length = mkdisc::frame_length(format, padded);
      if (at + length > stream.size()) break;  // still arriving, or cut at the end
      const auto found = where.find(stream.substr(at, length));
      ids.push_back(found != where.end() ? found->second : frame_id{-1, static_cast<int>(at)});
      if (found == where.end()) break;
      at += length;
    }
    return ids;
  };
  auto wait_for_frames = [&](size_t count) {
    return eventually([&] { return received_ids().size() >= count; }, 120s);
  };

  auto sim = start(folder_.file("disc"), "4");
  sim->type("mn");
  ASSERT_TRUE(wait_for_frames(60));
  sim->type("f");
  ASSERT_TRUE(wait_for_frames(received_ids().size() + 40));
  sim->type("e");
  ASSERT_NE(sim->wait_for(" next title\n"), std::string::npos) << sim->output();
  ASSERT_TRUE(wait_for_frames(received_ids().size() + 80));
  sim->type("f");
  ASSERT_TRUE(wait_for_frames(received_ids().size() + 40));
  sim->type("x");
  ASSERT_NE(sim->wait_for("and eject 1\n"), std::string::npos) << sim->output();

  const std::vector<frame_id> ids = received_ids();
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids.front(), (frame_id{1, 0}));
  int rewinds[3] = {0, 0, 0};
  for (size_t i = 1; i < ids.size(); ++i) {
    ASSERT_NE(ids[i].title, -1) << "bytes at offset " << ids[i].index << " are no frame";
    const frame_id &before = ids[i - 1], &after = ids[i];
    if (after == frame_id{before.title, before.index + 1}) continue;
    if (after == frame_id{2, 0} && before.title == 1) continue;  // the next title
    EXPECT_EQ(after, (frame_id{before.title, before.index + 1 - 30})) << "a jump that is no rewind";
    ++rewinds[after.title];
  }
  std::printf("rewinds landing 30 frames back on a frame start: VBR %d, CBR 320 %d\n", rewinds[1],
              rewinds[2]);
  EXPECT_EQ(rewinds[1], 1);
  EXPECT_EQ(rewinds[2], 1);
  EXPECT_FALSE(has_sanitizer_report(sim->errors())) << sim->errors();
}

}  // namespace
