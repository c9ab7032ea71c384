// The reader on titles of every MPEG version, layer and sampling rate, and on
// titles whose frames differ in length: every frame whole, rewind landing on
// frame starts, and a search budget that belongs to one title.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mkdisc/title_audio.h"
#include "mp3/frame_reader.h"
#include "mp3/frame_ring.h"
#include "support/frame_stamps.h"
#include "support/sim_process.h"

namespace {

using mkdisc::mpeg_version;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::string bytes_of(const std::vector<std::uint8_t> &bytes) {
  return {bytes.begin(), bytes.end()};
}

class FrameReaderFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override { slot_ = std::make_unique<std::uint8_t[]>(slot_bytes); }
  void TearDown() override { reader_close(reader_); }

  std::string write(const std::string &name, const std::string &bytes) {
    const std::string path = folder_.file(name);
    std::FILE *file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
  }

  bool open(const std::string &path) {
    CaptureStdout();
    const bool opened = reader_open(reader_, path.c_str());
    console_ += GetCapturedStdout();
    return opened;
  }

  // One pass in `status`; the frame it accepted, or "" at the end of the title.
  std::string pass(int status = status_playing) {
    CaptureStdout();
    reader_prepare_pass(reader_, status);
    int length = 0;
    const frame_outcome outcome = reader_read_frames(reader_, slot_.get(), &length);
    console_ += GetCapturedStdout();
    if (outcome == frame_outcome::end_of_title) return "";
    return std::string(reinterpret_cast<char *>(slot_.get()), static_cast<size_t>(length));
  }

  // Passes until the title ends; the frames accepted.
  std::vector<std::string> play_to_end() {
    std::vector<std::string> frames;
    for (std::string frame; !(frame = pass()).empty();) frames.push_back(frame);
    return frames;
  }

  temporary_folder folder_;
  frame_reader reader_;
  std::unique_ptr<std::uint8_t[]> slot_;
  std::string console_;
};

TEST_F(FrameReaderFormatsTest, ReadsFramesOfEveryVersionLayerAndRateWhole) {
  const mkdisc::frame_format formats[] = {
      {mpeg_version::mpeg_1, 3, 48000, 128}, {mpeg_version::mpeg_1, 3, 32000, 128},
      {mpeg_version::mpeg_2, 3, 22050, 64},  {mpeg_version::mpeg_2, 3, 24000, 64},
      {mpeg_version::mpeg_2, 3, 16000, 32},  {mpeg_version::mpeg_2_5, 3, 11025, 32},
      {mpeg_version::mpeg_2_5, 3, 8000, 8},  {mpeg_version::mpeg_1, 2, 44100, 192},
      {mpeg_version::mpeg_1, 2, 32000, 384}, {mpeg_version::mpeg_1, 1, 44100, 448},
      {mpeg_version::mpeg_2, 1, 16000, 256}, {mpeg_version::mpeg_2, 2, 24000, 160},
  };
  int n = 0;
  for (const mkdisc::frame_format &format : formats) {
    const std::string what = "format " + std::to_string(n);
    mkdisc::title_options options;
    static_cast<mkdisc::frame_format &>(options) = format;
    options.frames = 12;
    options.padding = mkdisc::padding_pattern::alternating;
    options.tag = true;
    const std::vector<std::uint8_t> title = mkdisc::title_bytes(options, {"t", "a", "b"}, 1);
    ASSERT_TRUE(open(write("t" + std::to_string(n++) + ".mp3", bytes_of(title)))) << what;
    const std::vector<std::string> frames = play_to_end();
    ASSERT_EQ(frames.size(), 12u) << what << "\n" << console_;
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i], bytes_of(mkdisc::silent_frame(format, i % 2 == 1))) << what << " " << i;
    }
  }
  EXPECT_EQ(console_.find("lost header"), std::string::npos) << console_;
  EXPECT_EQ(console_.find("WRONG FRAME SIZE"), std::string::npos) << console_;
}

// Frames whose lengths change from one to the next, as in a variable-bitrate
// title: rewind goes to the frame 30 before the next one, also again and
// again, and right after forward it reads the same 30 frames again.
TEST_F(FrameReaderFormatsTest, RewindLandsThirtyFramesBackWhateverTheirLengths) {
  const unsigned int bitrates[] = {320, 32, 128, 256, 64, 192, 40};
  std::string title;
  for (int i = 0; i < 120; ++i)
    title += bytes_of(mkdisc::silent_frame(bitrates[i % 7], i % 3 == 0));
  const std::string path = write("vbr.mp3", title);
  ASSERT_EQ(stamp_title(path, 1), 120);
  ASSERT_TRUE(open(path));

  std::string stream;
  for (int i = 0; i < 50; ++i) stream += pass();  // 0 to 49
  stream += pass(status_rewind);                  // 20
  for (int i = 0; i < 40; ++i) stream += pass();  // 21 to 60
  stream += pass(status_rewind);                  // 31
  stream += pass(status_rewind);                  // 2: back 30 from the next, 32
  stream += pass(status_forward);                 // 3 to 32, hands over 32
  stream += pass(status_rewind);                  // back to 3, reads 30 again: 32
  stream += pass(status_playing);                 // 33
  std::vector<frame_id> expected = frame_run(1, 0, 49);
  for (const auto &run :
       {frame_run(1, 20, 60), frame_run(1, 31, 31), frame_run(1, 2, 2), frame_run(1, 32, 33)}) {
    expected.insert(expected.end(), run.begin(), run.end());
  }
  expected.insert(expected.end() - 1, frame_id{1, 32});
  EXPECT_EQ(received_frames(stream), expected);
  EXPECT_EQ(console_.find("lost header"), std::string::npos) << console_;
}

// Leaving a title in the middle of a long search must not cut the next
// title short: each title has its 2048 steps.
TEST_F(FrameReaderFormatsTest, SearchBudgetStartsAnewWithEveryTitle) {
  const std::string frame = bytes_of(mkdisc::silent_frame(128, false));
  const std::string first = write("first.mp3", frame + std::string(2000, '\0') + frame + frame);
  const std::string second = write("second.mp3", frame + std::string(100, '\0') + frame + frame);
  ASSERT_TRUE(open(first));
  EXPECT_EQ(pass(), frame);
  EXPECT_EQ(pass(), frame) << "2000 steps are within the budget";
  ASSERT_TRUE(open(second));
  EXPECT_EQ(play_to_end(), std::vector<std::string>(3, frame));
}

// Free format has no length to read a frame with: such a title opens (its
// start test passes) and ends at once, without stepping through its bytes.
// Bytes too few for a header at the end end the title the same way.
TEST_F(FrameReaderFormatsTest, FreeFormatAndAShortTailEndTheTitleWithoutASearch) {
  std::string free_format = bytes_of(mkdisc::silent_frame(128, true));
  free_format[2] = '\x02';  // bitrate index 0, padded: a length of 1
  ASSERT_TRUE(open(write("free.mp3", free_format + free_format)));
  EXPECT_TRUE(play_to_end().empty());

  const std::string frame = bytes_of(mkdisc::silent_frame(128, false));
  ASSERT_TRUE(open(write("tail.mp3", frame + frame + "\xFF\xFB")));
  EXPECT_EQ(play_to_end().size(), 2u);
  EXPECT_EQ(console_.find("lost header"), std::string::npos) << console_;
  EXPECT_NE(console_.find("2/417 bytes red\n"), std::string::npos) << console_;
}

}  // namespace
