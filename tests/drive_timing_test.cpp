// The emulated drive's reading time as a player meets it: reads take the
// time of the selected speed, stalls come when due and hold every other
// request back, as the kernel hands a drive one request at a time.
#include <linux/cdrom.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "emu/drive.h"
#include "platform/platform.h"
#include "support/eventually.h"
#include "support/machine_fixture.h"
#include "support/sim_process.h"
#include "util/clock.h"

namespace {

class DriveTiming : public machine_fixture {
 protected:
  void SetUp() override {
    machine_fixture::SetUp();
    load_discs({audio_disc({10})});
    fd_ = platform::drive_open();
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    platform::drive_close(fd_);
    machine_fixture::TearDown();
  }

  // Reads `count` sectors from the first of track 1; 0 or the errno.
  int read(int count) {
    std::vector<std::uint8_t> sectors(static_cast<std::size_t>(count) * CD_FRAMESIZE_RAW);
    cdrom_read_audio request{};
    request.addr_format = CDROM_LBA;
    request.addr.lba = 0;
    request.nframes = count;
    request.buf = sectors.data();
    return platform::drive_request(fd_, CDROMREADAUDIO, &request) == 0 ? 0 : errno;
  }
  // How long reading `count` sectors took, in milliseconds.
  double timed_read(int count) {
    const std::int64_t start = util::monotonic_ns();
    EXPECT_EQ(read(count), 0);
    return (util::monotonic_ns() - start) / 1e6;
  }

  int fd_ = -1;
};

// Lower bounds only: a busy machine makes reads slower, never faster.
TEST_F(DriveTiming, ReadsTakeTheTimeOfTheSelectedSpeed) {
  EXPECT_GE(timed_read(18), 18 * 1000.0 / (75 * 24)) << "the top speed, 24x";
  ASSERT_EQ(platform::drive_request(fd_, CDROM_SELECT_SPEED, reinterpret_cast<void *>(2)), 0);
  EXPECT_EQ(sim::drive_view().selected_speed, 2);
  EXPECT_GE(timed_read(30), 200.0) << "30 sectors at 2x";
  platform::drive_request(fd_, CDROM_SELECT_SPEED, reinterpret_cast<void *>(0));
  EXPECT_EQ(count_starting(drive_log(), "SELECT_SPEED 2"), 1u);
  EXPECT_EQ(count_starting(drive_log(), "SELECT_SPEED 0"), 1u);
  EXPECT_EQ(sim::drive_view().read_end_frame, 150 + 30);
}

TEST_F(DriveTiming, RequestDuringAStallWaitsForTheRead) {
  sim::drive_stall_next_read(60000);
  std::thread reader([&] { EXPECT_EQ(read(4), 0); });
  ASSERT_TRUE(eventually([] { return sim::drive_view().stalling; }));
  std::atomic<bool> asking{false};
  std::thread asker([&] {
    cdrom_subchnl channel{};
    channel.cdsc_format = CDROM_MSF;
    asking = true;
    platform::drive_request(fd_, CDROMSUBCHNL, &channel);
  });
  ASSERT_TRUE(eventually([&] { return asking.load(); }));
  sim::drive_end_stall();
  reader.join();
  asker.join();
  const auto log = drive_log();
  const auto stall = std::find(log.begin(), log.end(), "STALL 60000 ms");
  ASSERT_NE(stall, log.end());
  ASSERT_GE(log.end() - stall, 3);
  EXPECT_EQ(stall[1], "READAUDIO 00:02:00 x4");
  EXPECT_TRUE(stall[2].starts_with("SUBCHNL")) << stall[2];
  EXPECT_FALSE(sim::drive_view().stalling);
}

TEST_F(DriveTiming, PeriodicStallMeetsTheFirstReadOfEachPeriodOnly) {
  sim::machine_config().stall_milliseconds = 30;
  sim::machine_config().stall_every_seconds = 0.2;
  load_discs({audio_disc({10})});
  platform::drive_close(fd_);
  fd_ = platform::drive_open();
  ASSERT_EQ(count_starting(drive_log(), "STALL"), 0u) << "nothing is due when the disc goes in";
  ASSERT_TRUE(eventually([&] {
    EXPECT_EQ(read(1), 0);
    return count_starting(drive_log(), "STALL 30 ms") == 2;
  }));
  const auto log = drive_log();
  const auto first = std::find(log.begin(), log.end(), "STALL 30 ms");
  const auto second = std::find(first + 1, log.end(), "STALL 30 ms");
  EXPECT_GT(second - first, 2) << "reads between the stalls run at speed";
}

}  // namespace
