// The reader's work on one title file, pass by pass as the reader thread
// does it, on titles made by the disc generator: which frames reach the
// slot, whole or not at all, and where a title ends.
#include "mp3/frame_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mkdisc/title_audio.h"
#include "mp3/frame_ring.h"
#include "mp3/mpeg_header.h"
#include "support/frame_stamps.h"
#include "support/sim_process.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::string title(const mkdisc::title_options &options) {
  const std::vector<std::uint8_t> bytes = mkdisc::title_bytes(options, {"t", "a", "b"}, 1);
  return std::string(bytes.begin(), bytes.end());
}

std::string frame(unsigned int bitrate, bool padded = false) {
  const std::vector<std::uint8_t> bytes = mkdisc::silent_frame(bitrate, padded);
  return std::string(bytes.begin(), bytes.end());
}

size_t count(const std::string &text, const std::string &part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

// A title played by the reader: each pass acts on `statuses[pass]` (playing
// once they run out), until the title ends or `limit` passes have run.
struct played_title {
  bool opened = false;
  bool ended = false;
  std::vector<std::string> frames;  // what each accepting pass left in the slot
  std::string console;
};

// `input`, when given, is the title already open.
played_title play(const std::string &path, const std::vector<int> &statuses = {},
                  size_t limit = 1000, std::FILE *input = nullptr) {
  played_title result;
  frame_reader reader;
  // The slot exactly as large as the ring's, so that ASan sees any overrun.
  auto slot = std::make_unique<std::uint8_t[]>(slot_bytes);
  int length = 0;
  CaptureStdout();
  result.opened =
      input ? reader_take_title(reader, input, path.c_str()) : reader_open(reader, path.c_str());
  for (size_t pass = 0; result.opened && pass < limit; ++pass) {
    reader_prepare_pass(reader, pass < statuses.size() ? statuses[pass] : status_playing);
    if (reader_read_frames(reader, slot.get(), &length) == frame_outcome::end_of_title) {
      result.ended = true;
      break;
    }
    EXPECT_TRUE(length >= 1 && length <= slot_bytes);
    result.frames.emplace_back(reinterpret_cast<char *>(slot.get()), length);
  }
  reader_close(reader);
  result.console = GetCapturedStdout();
  return result;
}

// A title on a scratched disc: reads of the bytes [from, to) fail with EIO,
// and a read that reaches them returns what lies before them, as the kernel
// hands out what it could read.
struct scratched_title {
  std::string bytes;
  long from = 0, to = 0;
  long position = 0;
  int failed_reads = 0;

  static ssize_t read(void *cookie, char *into, size_t size) {
    auto &t = *static_cast<scratched_title *>(cookie);
    if (t.position >= t.from && t.position < t.to) {
      ++t.failed_reads;
      errno = EIO;
      return -1;
    }
    long end = std::min<long>(t.position + static_cast<long>(size), t.bytes.size());
    if (t.position < t.from) end = std::min(end, t.from);
    const long count = std::max(0L, end - t.position);
    std::memcpy(into, t.bytes.data() + t.position, static_cast<size_t>(count));
    t.position += count;
    return count;
  }
  static int seek(void *cookie, off64_t *offset, int whence) {
    auto &t = *static_cast<scratched_title *>(cookie);
    const long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? t.position : t.bytes.size();
    t.position = base + *offset;
    *offset = t.position;
    return 0;
  }
  std::FILE *open() { return fopencookie(this, "r", {read, nullptr, seek, nullptr}); }
};

class FrameReaderTest : public ::testing::Test {
 protected:
  std::string write(const std::string &name, const std::string &bytes) {
    const std::string path = folder_.file(name);
    FILE *file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
  }
  temporary_folder folder_;
};

TEST_F(FrameReaderTest, ReadsEveryFrameWholeAndEndsAtAPartialFrameOrATagBlock) {
  mkdisc::title_options alternating;
  alternating.frames = 6;
  alternating.padding = mkdisc::padding_pattern::alternating;
  alternating.partial_tail = 200;
  const played_title padded = play(write("padded.mp3", title(alternating)));
  ASSERT_TRUE(padded.ended);
  ASSERT_EQ(padded.frames.size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(padded.frames[i], frame(128, i % 2 == 1)) << i;
  EXPECT_NE(padded.console.find("200/417 bytes red\n"), std::string::npos) << padded.console;
  EXPECT_EQ(padded.console.find("lost header"), std::string::npos);

  mkdisc::title_options tagged;
  tagged.frames = 5;
  tagged.tag = true;
  const played_title tag = play(write("tag.mp3", title(tagged)));
  EXPECT_TRUE(tag.ended);
  EXPECT_EQ(tag.frames.size(), 5u);
  // A "TAG" block ends the title even where a whole frame could be read.
  const played_title tag_then_more =
      play(write("tag-then-more.mp3", title(tagged) + std::string(600, '\0')));
  EXPECT_TRUE(tag_then_more.ended);
  EXPECT_EQ(tag_then_more.frames.size(), 5u);
}

TEST_F(FrameReaderTest, SearchesPastDamagedDataByteByByte) {
  mkdisc::title_options zeros;
  zeros.frames = 5;
  zeros.insertions = {{2, 3, true}};
  const played_title searched = play(write("zeros.mp3", title(zeros)));
  EXPECT_TRUE(searched.ended);
  EXPECT_EQ(searched.frames, std::vector<std::string>(5, frame(128)));
  EXPECT_EQ(count(searched.console, "lost header... searching\n"), 3u);
  EXPECT_EQ(count(searched.console, "found!!!!!!!!!!!!!!!!!!!!!!!!!!\n"), 1u);

  // Bitrate index 15 and 0 pass the stream test but give no length a slot
  // can take: they are damage to search past, not frames.
  // (Byte 3 is cleared too, so that the search's next step finds no frame
  // start either: the stream test takes any non-zero first byte.)
  std::string index_15 = frame(128), index_0 = frame(128);
  index_15[2] = '\xF0';
  index_0[2] = '\x00';
  index_15[3] = index_0[3] = '\x00';
  const played_title odd_headers =
      play(write("odd.mp3", frame(128) + index_15 + frame(128) + index_0 + frame(128)));
  EXPECT_TRUE(odd_headers.ended);
  EXPECT_EQ(odd_headers.frames, std::vector<std::string>(3, frame(128)));
  EXPECT_EQ(odd_headers.console.find("WRONG FRAME SIZE"), std::string::npos);

  // A search that takes more than 2048 steps gives up and ends the title.
  const played_title hopeless =
      play(write("hopeless.mp3", frame(128) + std::string(3000, '\0') + frame(128)));
  EXPECT_TRUE(hopeless.ended);
  EXPECT_EQ(hopeless.frames.size(), 1u);
  EXPECT_EQ(count(hopeless.console, "lost header... searching\n"), 2049u);
}

TEST_F(FrameReaderTest, JumpsThirtyFramesAndRewindsNoFurtherThanTheFirstFrame) {
  mkdisc::title_options options;
  options.frames = 100;
  options.id3v2 = true;
  options.id3v2_padding = 1000;
  const std::string path = write("jumps.mp3", title(options));
  ASSERT_EQ(stamp_title(path, 1), 100);
  // 10 frames; rewind to the first frame (not into the tag); 60 frames;
  // forward (61 to 90, 90 handed over); rewind at once, which still reads 30
  // frames a pass (61 to 90 again); one frame; rewind from 92 back to 62.
  std::vector<int> statuses(10, status_playing);
  statuses.push_back(status_rewind);
  statuses.resize(71, status_playing);
  statuses.push_back(status_forward);
  statuses.push_back(status_rewind);
  statuses.push_back(status_playing);
  statuses.push_back(status_rewind);
  const played_title jumps = play(path, statuses, statuses.size());
  ASSERT_TRUE(jumps.opened) << jumps.console;
  std::string stream;
  for (const std::string &accepted : jumps.frames) stream += accepted;
  std::vector<frame_id> expected = frame_run(1, 0, 9);
  for (const auto &run :
       {frame_run(1, 0, 60), frame_run(1, 90, 90), frame_run(1, 90, 91), frame_run(1, 62, 62)}) {
    expected.insert(expected.end(), run.begin(), run.end());
  }
  EXPECT_EQ(received_frames(stream), expected);
}

// 600 frames (about 120 sectors of 2048 bytes), 20 sectors in the middle
// unreadable: every frame wholly before them and every frame after them
// comes whole and in order, the unreadable part is found in far fewer
// failing reads than it has sectors, and it gets one console line.
TEST_F(FrameReaderTest, PlaysOnPastAnUnreadablePartOfTheTitle) {
  mkdisc::title_options options;
  options.frames = 600;
  options.padding = mkdisc::padding_pattern::alternating;
  const std::string path = write("scratched.mp3", title(options));
  ASSERT_EQ(stamp_title(path, 1), 600);
  scratched_title scratched{file_contents(path), 40 * 2048, 60 * 2048};
  int before = -1, after = -1;  // the last frame before the scratch, the first after
  long start = 0;
  for (int i = 0; i < 600; ++i) {
    const auto *header = reinterpret_cast<const std::uint8_t *>(scratched.bytes.data() + start);
    const long length = mpeg_frame_size(header[1], header[2]);
    if (start + length <= scratched.from) before = i;
    if (after < 0 && start >= scratched.to) after = i;
    start += length;
  }
  const played_title played = play(path, {}, 1000, scratched.open());
  EXPECT_TRUE(played.ended);
  std::string stream;
  for (const std::string &accepted : played.frames) stream += accepted;
  std::vector<frame_id> expected = frame_run(1, 0, before);
  const std::vector<frame_id> rest = frame_run(1, after, 599);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(received_frames(stream), expected);
  EXPECT_EQ(count(played.console, "of the title unreadable, skipped\n"), 1u) << played.console;
  EXPECT_EQ(count(played.console, "lost header"), 0u);
  EXPECT_LE(scratched.failed_reads, 12);
}

TEST_F(FrameReaderTest, RefusesTitlesThatCannotBePlayed) {
  const played_title missing = play(folder_.file("missing.mp3"));
  EXPECT_FALSE(missing.opened);
  EXPECT_EQ(missing.console, "UNABLE TO OPEN FILE 1 !!!\n EXITING :-((((((((((\n");

  const std::string two_bytes = write("two.mp3", "\xFF\xFB");
  const played_title short_file = play(two_bytes);
  EXPECT_FALSE(short_file.opened);
  EXPECT_EQ(short_file.console,
            "unable to open" + two_bytes + "\nUNABLE TO OPEN FILE 2 !!!\n EXITING :-((((((((((\n");

  const played_title folder = play(folder_.path());
  EXPECT_FALSE(folder.opened);
  EXPECT_NE(folder.console.find("UNABLE TO OPEN FILE 2"), std::string::npos);

  std::string no_sync = frame(128);
  no_sync[0] = '\x7F';
  const played_title bad_start = play(write("bad.mp3", no_sync + frame(128)));
  EXPECT_FALSE(bad_start.opened);
  EXPECT_NE(bad_start.console.find("UNABLE TO OPEN FILE 2"), std::string::npos);
}

}  // namespace
