// The reader and writer threads on a mounted generated disc, with the test
// reading the frame pipe in the decoder's place and steering the pipeline as
// the key loop does: through player_status, the selection and the
// semaphores.
#include "mp3/pipeline.h"

#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ctl/ctl.h"
#include "mp3/selection.h"
#include "support/frame_stamps.h"
#include "support/mp3_disc_fixture.h"

namespace {

using namespace std::chrono_literals;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class PipelineTest : public Mp3DiscFixture {
 protected:
  void SetUp() override {
    Mp3DiscFixture::SetUp();
    for (int slot = 0; slot < ring_slots; ++slot) {
      buffer[slot] = static_cast<unsigned char *>(std::calloc(slot_bytes, 1));
      frame_size[slot] = static_cast<int *>(std::calloc(1, sizeof(int)));
    }
    readS = &semaphores_[0];
    writeS = &semaphores_[1];
    pauseS = &semaphores_[2];
    for (sem_t &semaphore : semaphores_) sem_init(&semaphore, 0, 0);
    ASSERT_EQ(pipe2(pipe_, O_CLOEXEC), 0);
    fcntl(pipe_[0], F_SETFL, O_NONBLOCK);
    write_f = fdopen(pipe_[1], "w");
    setvbuf(write_f, nullptr, _IONBF, 0);  // every frame reaches the pipe as written
    read_buffer = 0;
    write_buffer = -1;
    buffer_stat = 0;
    player_status = status_playing;
  }

  void TearDown() override {
    if (running_) stop();
    std::fclose(write_f);
    close(pipe_[0]);
    for (int slot = 0; slot < ring_slots; ++slot) {
      std::free(buffer[slot]);
      std::free(frame_size[slot]);
    }
    for (sem_t &semaphore : semaphores_) sem_destroy(&semaphore);
    Mp3DiscFixture::TearDown();
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
    const std::lock_guard<std::mutex> hold(position_lock);
    open_file(1, 1, title);
  }

  void start() {
    ASSERT_TRUE(start_pipeline(reader_, writer_));
    running_ = true;
  }
  void stop() {
    stop_reader(reader_);
    stop_writer(writer_);
    running_ = false;
  }
  void post(sem_t *semaphore) { sem_post(semaphore); }

  // The first `count` frames the pipe delivered, waiting for them until
  // nothing came for `quiet`.
  std::vector<frame_id> take(size_t count, std::chrono::milliseconds quiet = 2s) {
    for (;;) {
      char bytes[4096];
      const ssize_t got = read(pipe_[0], bytes, sizeof bytes);
      if (got > 0) {
        received_.append(bytes, static_cast<size_t>(got));
        continue;
      }
      if (received_frames(received_).size() >= count) break;
      pollfd readable{pipe_[0], POLLIN, 0};
      if (poll(&readable, 1, static_cast<int>(quiet.count())) <= 0) break;
    }
    std::vector<frame_id> frames = received_frames(received_);
    if (frames.size() > count) frames.resize(count);
    return frames;
  }

  // Waits until the threads have stopped moving: the writer has nothing in
  // hand and the pipe has been emptied.
  void settle() {
    std::this_thread::sleep_for(100ms);
    take(SIZE_MAX, 200ms);
  }

  static std::vector<frame_id> joined(std::initializer_list<std::vector<frame_id>> runs) {
    std::vector<frame_id> all;
    for (const auto &run : runs) all.insert(all.end(), run.begin(), run.end());
    return all;
  }

  sem_t semaphores_[3];
  int pipe_[2] = {-1, -1};
  pthread_t reader_{}, writer_{};
  bool running_ = false;
  std::string received_;
};

TEST_F(PipelineTest, StreamsTitleAfterTitleFromTheFirstFrameAndRepeatsTheLastOfTheAlbum) {
  load_album(2, 12);
  start();
  EXPECT_TRUE(take(1, 300ms).empty()) << "frames flowed before the pipeline was started";
  post(readS);
  EXPECT_EQ(take(12 + 12 + 12),
            joined({frame_run(1, 0, 11), frame_run(2, 0, 11), frame_run(2, 0, 11)}));
}

TEST_F(PipelineTest, HoldsOneFrameBackAcrossAStopAndAChangeOfTitle) {
  load_album(2, 200);
  start();
  post(readS);
  take(10);
  player_status = status_stopped;
  settle();
  const std::vector<frame_id> before = received_frames(received_);
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(before, frame_run(1, 0, before.back().index));

  select(2);
  player_status = status_playing;
  post(readS);
  const int held_back = before.back().index + 1;
  EXPECT_EQ(take(before.size() + 4), joined({frame_run(1, 0, held_back), frame_run(2, 0, 2)}));
}

// A stray start of a pass (stop and start pressed while the writer still has
// a frame) must change nothing, also when a new title waits to be opened.
TEST_F(PipelineTest, PassStartedWhileAFrameWaitsForTheWriterChangesNothing) {
  load_album(2, 200);
  start();
  post(readS);
  take(10);
  player_status = status_paused;
  settle();
  const std::vector<frame_id> before = received_frames(received_);
  ASSERT_EQ(buffer_stat, 1) << "the writer should hold a frame while paused";

  CaptureStdout();
  select(2);
  post(readS);
  std::this_thread::sleep_for(100ms);
  const std::string console = GetCapturedStdout();
  EXPECT_NE(console.find("PROBLEM\n"), std::string::npos) << console;
  EXPECT_EQ(buffer_stat, 1);

  player_status = status_playing;
  post(pauseS);
  // The frame that waited, the one held back, then the new title.
  const int last_old = before.back().index + 2;
  EXPECT_EQ(take(before.size() + 5), joined({frame_run(1, 0, last_old), frame_run(2, 0, 2)}));
}

TEST_F(PipelineTest, StopsWhileTheWriterIsBlockedInAWriteNobodyDrains) {
  load_album(1, 400);
  fcntl(pipe_[1], F_SETPIPE_SZ, 4096);
  start();
  post(readS);
  std::this_thread::sleep_for(200ms);  // the pipe fills; the writer blocks
  EXPECT_EQ(buffer_stat, 4) << "the writer should be in a write";
  const auto begin = std::chrono::steady_clock::now();
  stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
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
  set_reopen_delay(std::chrono::hours(1));
  CaptureStdout();
  start();
  post(readS);
  // The reader has asked for the next title once it moved cur_title on.
  for (int look = 0; look < 2000; ++look) {
    {
      const std::lock_guard<std::mutex> hold(position_lock);
      if (cur_title != 1) break;
    }
    std::this_thread::sleep_for(10ms);
  }
  stop();
  set_reopen_delay(std::chrono::seconds(1));
  const std::string console = GetCapturedStdout();
  EXPECT_EQ(cur_title, 2u);
  EXPECT_EQ(lines_starting(console, "Open ").size(), 1u) << console;
  EXPECT_EQ(lines_starting(console, "titl groesser").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(TooShortOrAllZeros, PipelineNoFrameTest, testing::Values(96, 20'000));

}  // namespace
