// The reader and writer threads on a mounted generated disc, with the test
// reading the frame pipe in the decoder's place and steering the pipeline as
// the key loop does: through its methods and the selection.
#include "mp3/pipeline.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "mp3/library_position.h"
#include "mp3/selection.h"
#include "support/eventually.h"
#include "support/frame_stamps.h"
#include "support/mp3_disc_fixture.h"
#include "support/stdout_tap.h"

namespace {

using namespace std::chrono_literals;

class PipelineTest : public mp3_disc_fixture {
 protected:
  static constexpr auto patience = 30s;

  // The pipeline as the mode makes it, but with every frame reaching the
  // pipe as written, and the test reading the pipe in the decoder's place.
  void SetUp() override {
    mp3_disc_fixture::SetUp();
    ASSERT_TRUE(pipeline_.open_pipe());
    pipeline_.init_semaphores();
    ASSERT_TRUE(pipeline_.open_stream());
    pipe_ = pipeline_.take_read_end();
    fcntl(pipe_.get(), F_SETFL, O_NONBLOCK);
  }

  void TearDown() override {
    stop();
    pipeline_.close_pipe();
    mp3_disc_fixture::TearDown();
  }

  // A disc of one album with stamped titles of `frames` frames each, scanned,
  // with title 1 selected.
  void load_album(int titles, unsigned int frames) {
    std::vector<std::string> entries;
    for (int t = 1; t <= titles; ++t) entries.push_back("A/B/t" + std::to_string(t) + ".mp3");
    mkdisc::title_options options;
    options.frames = frames;
    const std::string disc = make_disc(entries, options);
    for (int t = 1; t <= titles; ++t) stamp_title(disc + "/A/B/t" + std::to_string(t) + ".mp3", t);
    mount(disc);
    scan();
    select(1);
  }

  void select(unsigned int title) {
    const std::lock_guard<std::mutex> hold(position_.position_lock);
    open_file(position_, 1, 1, title);
  }

  void start() { ASSERT_TRUE(pipeline_.start_threads(nullptr)); }
  void stop() {
    pipeline_.stop_reader();
    pipeline_.stop_writer();
  }

  // Reads what the pipe holds now, without waiting.
  void drain() {
    char bytes[4096];
    for (ssize_t got; (got = read(pipe_.get(), bytes, sizeof bytes)) > 0;) {
      received_.append(bytes, static_cast<size_t>(got));
    }
  }

  // The first `count` frames the pipe delivered, waiting for them as long as
  // a loaded machine may need.
  std::vector<frame_id> take(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (received_frames(received_).size() < count &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd readable{pipe_.get(), POLLIN, 0};
      poll(&readable, 1, 100);
      drain();
    }
    std::vector<frame_id> frames = received_frames(received_);
    if (frames.size() > count) frames.resize(count);
    return frames;
  }

  // True when no byte arrives within `time`: for what must not happen.
  bool nothing_arrives_within(std::chrono::milliseconds time) {
    pollfd readable{pipe_.get(), POLLIN, 0};
    return poll(&readable, 1, static_cast<int>(time.count())) == 0;
  }

  int bytes_in_pipe() const {
    int bytes = 0;
    ioctl(pipe_.get(), FIONREAD, &bytes);
    return bytes;
  }

  // Waits, reading nothing, until the writer has a frame in hand while the
  // pipe still holds one: it writes only into a drained pipe, so that write
  // cannot finish. Until the test reads again the reader waits for the
  // writer and nothing moves, so a key set now is seen by the writer right
  // after that write (or, when the writer was just leaving the write before,
  // right after that one).
  bool writer_blocked() {
    return soon([&] { return written_now() && bytes_in_pipe() > 0; });
  }

  // Reads the pipe until `settled` holds, then what is left in it.
  bool drain_until(const std::function<bool()> &settled) {
    const bool reached = soon([&] {
      drain();
      return settled();
    });
    drain();
    return reached;
  }

  static bool soon(const std::function<bool()> &condition) {
    return eventually(condition, patience, 1ms);
  }

  static std::vector<frame_id> joined(std::initializer_list<std::vector<frame_id>> runs) {
    std::vector<frame_id> all;
    for (const auto &run : runs) all.insert(all.end(), run.begin(), run.end());
    return all;
  }

  bool written_now() const { return pipeline_.hand_over() == ring_state::writer_writing; }
  bool nothing_waits() const { return pipeline_.hand_over() == ring_state::free; }
  bool frame_waits() const { return pipeline_.hand_over() == ring_state::frame_ready; }

  frame_pipeline pipeline_{position_, frame_stream::buffering::unbuffered};
  util::unique_fd pipe_;
  std::string received_;
};

TEST_F(PipelineTest, StreamsTitleAfterTitleFromTheFirstFrameAndRepeatsTheLastOfTheAlbum) {
  load_album(2, 12);
  start();
  EXPECT_TRUE(nothing_arrives_within(300ms)) << "frames flowed before the pipeline was started";
  pipeline_.post_read();
  EXPECT_EQ(take(12 + 12 + 12),
            joined({frame_run(1, 0, 11), frame_run(2, 0, 11), frame_run(2, 0, 11)}));
}

TEST_F(PipelineTest, HoldsOneFrameBackAcrossAStopAndAChangeOfTitle) {
  load_album(2, 200);
  start();
  pipeline_.post_read();
  ASSERT_TRUE(writer_blocked());
  pipeline_.stop();
  ASSERT_TRUE(drain_until([&] { return nothing_waits(); }));
  const std::vector<frame_id> before = received_frames(received_);
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(before, frame_run(1, 0, before.back().index));

  select(2);
  pipeline_.play();
  const int held_back = before.back().index + 1;
  EXPECT_EQ(take(before.size() + 4), joined({frame_run(1, 0, held_back), frame_run(2, 0, 2)}));
}

// A stray start of a pass (stop and start pressed while the writer still has
// a frame) must change nothing, also when a new title waits to be opened.
TEST_F(PipelineTest, PassStartedWhileAFrameWaitsForTheWriterChangesNothing) {
  load_album(2, 200);
  start();
  pipeline_.post_read();
  ASSERT_TRUE(writer_blocked());
  pipeline_.pause();
  // The write in hand ends, the reader prepares one more frame, and the
  // writer holds it.
  ASSERT_TRUE(drain_until([&] { return frame_waits(); }))
      << "the writer should hold a frame while paused";
  const std::vector<frame_id> before = received_frames(received_);

  {
    stdout_tap console;
    select(2);
    pipeline_.post_read();
    EXPECT_TRUE(console.wait_for("PROBLEM\n")) << console.text();
  }
  EXPECT_TRUE(frame_waits());

  pipeline_.resume();
  // The frame that waited, the one held back, then the new title.
  const int last_old = before.back().index + 2;
  EXPECT_EQ(take(before.size() + 5), joined({frame_run(1, 0, last_old), frame_run(2, 0, 2)}));
}

TEST_F(PipelineTest, StopsWhileTheWriterIsBlockedInAWriteNobodyDrains) {
  load_album(1, 400);
  start();
  pipeline_.post_read();
  ASSERT_TRUE(writer_blocked());
  stop();  // a writer left in its write would hang the test here
}

// The last title of an album repeats; one that hands no frame over must not
// be searched again and again at full speed: a frame header then too few
// bytes (no frame at all), or a frame start then nothing but zeros (one
// frame, which stays held back). With the wait lengthened, such a title is
// opened once until the pipeline is ended, and ending it cuts the wait short.
class PipelineNoFrameTest : public PipelineTest, public testing::WithParamInterface<size_t> {};

TEST_P(PipelineNoFrameTest, TitleThatHandsNoFrameOverIsNotReopenedAtOnce) {
  const std::string disc = make_disc({"A/B/a.mp3"});
  const std::string header = mpeg_bytes(0x90).substr(0, 4);
  write_file("disc/A/B/a.mp3", header + std::string(GetParam(), '\0'));
  mount(disc);
  scan();
  select(1);
  pipeline_.set_reopen_delay(std::chrono::hours(1));
  testing::internal::CaptureStdout();
  start();
  pipeline_.post_read();
  // The reader has asked for the next title once it moved cur_title on.
  soon([&] {
    const std::lock_guard<std::mutex> hold(position_.position_lock);
    return position_.cur_title != 1;
  });
  stop();
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(position_.cur_title, 2u);
  EXPECT_EQ(lines_starting(console, "Open ").size(), 1u) << console;
  EXPECT_EQ(lines_starting(console, "titl groesser").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(TooShortOrAllZeros, PipelineNoFrameTest, testing::Values(96, 20'000));

}  // namespace
