// The emulated drive as the player's requests meet it: descriptors across
// media changes, the disc list, the table of contents, audio status over
// emulated time, refusals, the log, and one drive for every process.
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "emu/drive.h"
#include "platform/platform.h"
#include "support/machine_fixture.h"

namespace {

class CdDriveTest : public machine_fixture {
 protected:
  static int default_options() { return CDO_AUTO_CLOSE | CDO_USE_FFLAGS | CDO_LOCK; }
  // 0, or the errno the drive answered.
  static int request(int fd, unsigned long what, void *argument = nullptr) {
    return platform::drive_request(fd, what, argument) == 0 ? 0 : errno;
  }
  static int play(int fd, cdrom_msf msf) { return request(fd, CDROMPLAYMSF, &msf); }
  static cdrom_subchnl status(int fd) {
    cdrom_subchnl channel{};
    channel.cdsc_format = CDROM_MSF;
    EXPECT_EQ(request(fd, CDROMSUBCHNL, &channel), 0);
    return channel;
  }
  static cdrom_tocentry toc_entry(int fd, int track, int format = CDROM_MSF) {
    cdrom_tocentry entry{};
    entry.cdte_track = track;
    entry.cdte_format = format;
    EXPECT_EQ(request(fd, CDROMREADTOCENTRY, &entry), 0);
    return entry;
  }
};

TEST_F(CdDriveTest, DescriptorsAreRealAndGoStaleWhenTheDiscChanges) {
  load_discs({audio_disc({3}), audio_disc({5})});
  const int fd = platform::drive_open();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFD), FD_CLOEXEC);
  // Left on, the next open would close the tray on the ejected disc.
  platform::drive_request(fd, CDROM_CLEAR_OPTIONS, reinterpret_cast<void *>(CDO_AUTO_CLOSE));
  EXPECT_EQ(request(fd, CDROMEJECT), 0);
  EXPECT_EQ(request(fd, CDROMSUBCHNL, nullptr), ENOMEDIUM);
  EXPECT_EQ(platform::drive_open(), -1);
  EXPECT_EQ(errno, ENOMEDIUM);

  advance_seconds(2);
  const int next = platform::drive_open();
  ASSERT_GE(next, 0);
  cdrom_subchnl channel{};
  channel.cdsc_format = CDROM_MSF;
  EXPECT_EQ(request(fd, CDROMSUBCHNL, &channel), ENOMEDIUM) << "opened for the earlier disc";
  EXPECT_EQ(request(next, CDROMSUBCHNL, &channel), 0);
  EXPECT_EQ(platform::drive_close(fd), 0);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(request(fd, CDROMSTOP), EBADF);
  platform::drive_close(next);
}

TEST_F(CdDriveTest, DiscListIsWorkedThroughAfterEachEject) {
  load_discs({no_disc(), audio_disc({1}), no_disc(), data_disc(folder())});
  EXPECT_FALSE(sim::drive_view().disc_present);
  advance_seconds(2);
  EXPECT_EQ(sim::drive_view().disc_index, 1);

  int fd = platform::drive_open();
  request(fd, CDROMEJECT);
  platform::drive_close(fd);
  advance_seconds(3.9);
  EXPECT_FALSE(sim::drive_view().disc_present) << "an empty entry stays one delay";
  advance_seconds(0.2);
  EXPECT_EQ(sim::drive_view().kind, sim::emulated_disc::disc_kind::data);

  fd = platform::drive_open();
  request(fd, CDROMEJECT);
  platform::drive_close(fd);
  advance_seconds(600);
  EXPECT_FALSE(sim::drive_view().disc_present) << "after the last disc";
  EXPECT_EQ(sim::drive_view().ejects, 2);
}

TEST_F(CdDriveTest, TableOfContentsListsTracksBackToBack) {
  load_discs({audio_disc({3, 4})});
  const int fd = platform::drive_open();
  cdrom_tochdr header{};
  EXPECT_EQ(request(fd, CDROMREADTOCHDR, &header), 0);
  EXPECT_EQ(header.cdth_trk0, 1);
  EXPECT_EQ(header.cdth_trk1, 2);
  EXPECT_EQ(toc_entry(fd, 1).cdte_addr.msf.second, 2);
  EXPECT_EQ(toc_entry(fd, 2).cdte_addr.msf.second, 5);
  EXPECT_EQ(toc_entry(fd, CDROM_LEADOUT).cdte_addr.msf.second, 9);
  EXPECT_EQ(toc_entry(fd, 2, CDROM_LBA).cdte_addr.lba, 3 * 75);
  EXPECT_EQ(toc_entry(fd, 2).cdte_ctrl & CDROM_DATA_TRACK, 0);
  cdrom_tocentry missing{};
  missing.cdte_track = 3;
  missing.cdte_format = CDROM_MSF;
  EXPECT_EQ(request(fd, CDROMREADTOCENTRY, &missing), EIO);
  platform::drive_close(fd);

  sim::drive_insert(data_disc(folder()));
  const int data = platform::drive_open();
  EXPECT_NE(toc_entry(data, 1).cdte_ctrl & CDROM_DATA_TRACK, 0);
  EXPECT_EQ(play(data, {0, 2, 0, 0, 3, 0}), EIO) << "no audio on a data track";
  platform::drive_close(data);

  sim::drive_insert(blank_disc());
  const int blank = platform::drive_open();
  EXPECT_EQ(request(blank, CDROMREADTOCHDR, &header), EIO);
  platform::drive_close(blank);
}

TEST_F(CdDriveTest, AudioStatusRunsWithTheClock) {
  load_discs({audio_disc({3, 4})});
  const int fd = platform::drive_open();
  EXPECT_EQ(request(fd, CDROMPAUSE), EIO) << "nothing playing";
  EXPECT_EQ(play(fd, {0, 2, 0, 0, 9, 1}), EIO) << "past the lead-out";
  EXPECT_EQ(play(fd, {0, 2, 75, 0, 8, 0}), EIO) << "no frame 75";
  EXPECT_EQ(play(fd, {0, 5, 0, 0, 2, 0}), EIO) << "backwards";

  ASSERT_EQ(play(fd, {0, 2, 0, 0, 8, 0}), 0);
  EXPECT_EQ(status(fd).cdsc_audiostatus, CDROM_AUDIO_PLAY);
  advance_seconds(3.5);
  cdrom_subchnl now = status(fd);
  EXPECT_EQ(now.cdsc_trk, 2);
  EXPECT_EQ(now.cdsc_reladdr.msf.second, 0);

  EXPECT_EQ(request(fd, CDROMPAUSE), 0);
  advance_seconds(100);
  now = status(fd);
  EXPECT_EQ(now.cdsc_audiostatus, CDROM_AUDIO_PAUSED);
  EXPECT_EQ(now.cdsc_absaddr.msf.second, 5);
  EXPECT_TRUE(sim::drive_view().paused);

  EXPECT_EQ(request(fd, CDROMRESUME), 0);
  advance_seconds(2.4);
  EXPECT_EQ(status(fd).cdsc_audiostatus, CDROM_AUDIO_PLAY);
  advance_seconds(0.2);
  EXPECT_FALSE(sim::drive_view().playing);
  now = status(fd);
  EXPECT_EQ(now.cdsc_audiostatus, CDROM_AUDIO_COMPLETED);
  EXPECT_EQ(now.cdsc_trk, 2);
  EXPECT_EQ(status(fd).cdsc_audiostatus, CDROM_AUDIO_NO_STATUS);
  platform::drive_close(fd);
}

TEST_F(CdDriveTest, LogHasALinePerRequest) {
  load_discs({audio_disc({3, 4})});
  const int fd = platform::drive_open();
  cdrom_tochdr header{};
  request(fd, CDROMREADTOCHDR, &header);
  toc_entry(fd, CDROM_LEADOUT);
  play(fd, {0, 2, 0, 0, 4, 74});
  status(fd);
  request(fd, CDROMPAUSE);
  request(fd, CDROMRESUME);
  request(fd, CDROMSTOP);
  request(fd, CDROMEJECT);
  request(fd, CDROMSUBCHNL, &header);
  platform::drive_close(fd);
  platform::drive_open();
  EXPECT_EQ(drive_log(),
            (std::vector<std::string>{"OPEN", "TOCHDR 1-2", "TOCENTRY leadout 00:09:00",
                                      "PLAYMSF 00:02:00-00:04:74 ok", "SUBCHNL play track 1",
                                      "PAUSE", "RESUME", "STOP", "EJECT", "SUBCHNL ENOMEDIUM",
                                      "CLOSE", "TRAY closed", "OPEN"}));
}

TEST_F(CdDriveTest, EveryProcessSeesTheSameDrive) {
  load_discs({audio_disc({3, 4})});
  const int fd = platform::drive_open();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The inherited descriptor still reaches the drive.
    cdrom_msf whole{0, 2, 0, 0, 8, 0};
    _exit(platform::drive_request(fd, CDROMPLAYMSF, &whole) == 0 ? 0 : 1);
  }
  int child_status = 0;
  ASSERT_EQ(waitpid(child, &child_status, 0), child);
  EXPECT_EQ(child_status, 0);
  EXPECT_TRUE(sim::drive_view().playing);
  EXPECT_EQ(status(fd).cdsc_audiostatus, CDROM_AUDIO_PLAY);
  platform::drive_close(fd);
}

// After an eject the disc lies in the open tray until it is swapped; a
// blocking open closes the tray on it again unless CDO_AUTO_CLOSE is off.
TEST_F(CdDriveTest, OpenClosesTheTrayOnTheEjectedDiscUnlessAutoCloseIsOff) {
  load_discs({audio_disc({3}), audio_disc({5})});
  int fd = platform::drive_open();
  EXPECT_EQ(request(fd, CDROMEJECT), 0);
  platform::drive_close(fd);
  EXPECT_TRUE(sim::drive_view().tray_open);
  fd = platform::drive_open();
  ASSERT_GE(fd, 0) << "the tray closed on the same disc";
  EXPECT_EQ(sim::drive_view().disc_index, 0);
  advance_seconds(3);
  EXPECT_EQ(sim::drive_view().disc_index, 0) << "no swap once the disc is back in";

  const auto auto_close = reinterpret_cast<void *>(CDO_AUTO_CLOSE);
  EXPECT_EQ(platform::drive_request(fd, CDROM_CLEAR_OPTIONS, auto_close),
            CDO_USE_FFLAGS | CDO_LOCK);
  EXPECT_EQ(request(fd, CDROMEJECT), 0);
  platform::drive_close(fd);
  EXPECT_EQ(platform::drive_open(), -1);
  EXPECT_EQ(errno, ENOMEDIUM);
  EXPECT_TRUE(sim::drive_view().tray_open);
  advance_seconds(2);
  fd = platform::drive_open();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(sim::drive_view().disc_index, 1) << "the swap went ahead";
  EXPECT_EQ(platform::drive_request(fd, CDROM_SET_OPTIONS, auto_close), default_options());
  platform::drive_close(fd);
}

// The drive qemu gives a Linux guest: it reads the table of contents, but has
// no audio, and keeps its door locked through the eject request's own unlock.
TEST_F(CdDriveTest, DataOnlyDriveHasNoAudioAndEjectsOnlyUnlocked) {
  sim::machine_config().data_only_drive = true;
  load_discs({audio_disc({3, 4})});
  const int fd = platform::drive_open();
  cdrom_tochdr header{};
  EXPECT_EQ(request(fd, CDROMREADTOCHDR, &header), 0);
  cdrom_subchnl channel{};
  channel.cdsc_format = CDROM_MSF;
  EXPECT_EQ(request(fd, CDROMSUBCHNL, &channel), EOPNOTSUPP);
  EXPECT_EQ(play(fd, {0, 2, 0, 0, 8, 0}), EOPNOTSUPP);
  EXPECT_EQ(request(fd, CDROMPAUSE), EOPNOTSUPP);
  EXPECT_EQ(request(fd, CDROMRESUME), EOPNOTSUPP);

  EXPECT_EQ(platform::drive_request(fd, CDROMEJECT, nullptr), 2) << "refused while locked";
  EXPECT_TRUE(sim::drive_view().disc_present);
  EXPECT_EQ(request(fd, CDROM_LOCKDOOR), 0);
  EXPECT_EQ(request(fd, CDROMEJECT), 0);
  EXPECT_TRUE(sim::drive_view().tray_open);
  EXPECT_EQ(drive_log().back(), "EJECT");
  EXPECT_EQ(drive_log().rbegin()[1], "LOCKDOOR 0");
  EXPECT_EQ(drive_log().rbegin()[2], "EJECT locked = 2");
  EXPECT_EQ(request(fd, CDROMSUBCHNL, &channel), EOPNOTSUPP) << "refused before the medium";
  platform::drive_close(fd);
}

// Puts the disc into the drive under limits of 32 descriptors and (without
// the sanitizers, which reserve far more) 256 MB of address space; 0 when
// the walk counted every folder and (again without the sanitizers) its peak
// memory grew by less than 64 MB.
int walk_within_bounds(const std::string &disc) {
  const rlimit descriptors{32, 32};
  setrlimit(RLIMIT_NOFILE, &descriptors);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  const rlimit memory{256 << 20, 256 << 20};
  setrlimit(RLIMIT_AS, &memory);
#endif
  rusage before, after;
  getrusage(RUSAGE_SELF, &before);
  sim::drive_insert(sim::emulated_disc{sim::emulated_disc::disc_kind::data, {}, disc});
  getrusage(RUSAGE_SELF, &after);
  const int fd = platform::drive_open();
  cdrom_tocentry lead_out{};
  lead_out.cdte_track = CDROM_LEADOUT;
  lead_out.cdte_format = CDROM_LBA;
  if (platform::drive_request(fd, CDROMREADTOCENTRY, &lead_out) != 0) return 2;
  if (lead_out.cdte_addr.lba != 32 + 10'000) return 3;
  const long grown_kilobytes = after.ru_maxrss - before.ru_maxrss;
  std::fprintf(stderr, "peak memory grew by %ld kB\n", grown_kilobytes);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers keep freed memory aside (each folder's listing buffer
  // among it), so their peak says nothing about the walk's own.
  return 0;
#else
  return grown_kilobytes < 64 * 1024 ? 0 : 1;
#endif
}

// A data disc's track length comes from a walk of its tree, which a disc
// may make as deep as it likes. Under a limit of 32 descriptors and 256 MB
// of address space the walk of a tree 10,000 folders deep must still count
// every folder: one sector each, after the 32 of the system area.
TEST_F(CdDriveTest, DataTrackOfADeepTreeIsWalkedInBoundedMemoryAndDescriptors) {
  const std::string disc = path("deep");
  ASSERT_EQ(mkdir(disc.c_str(), 0755), 0);
  int level = open(disc.c_str(), O_RDONLY | O_DIRECTORY);
  for (int depth = 0; depth < 10'000 && level >= 0; ++depth) {
    ASSERT_EQ(mkdirat(level, "d", 0755), 0);
    const int child = openat(level, "d", O_RDONLY | O_DIRECTORY);
    close(level);
    level = child;
  }
  ASSERT_GE(level, 0);
  close(level);
  EXPECT_EXIT(std::_Exit(walk_within_bounds(disc)), testing::ExitedWithCode(0), "");
  // Take the tree down from its bottom, one descriptor at a time: its
  // paths are too long for a walk by name.
  int folder = open(disc.c_str(), O_RDONLY | O_DIRECTORY);
  int depth = 0;
  for (int child; (child = openat(folder, "d", O_RDONLY | O_DIRECTORY)) >= 0; ++depth) {
    close(folder);
    folder = child;
  }
  for (; depth > 0; --depth) {
    const int parent = openat(folder, "..", O_RDONLY | O_DIRECTORY);
    close(folder);
    unlinkat(parent, "d", AT_REMOVEDIR);
    folder = parent;
  }
  close(folder);
}

}  // namespace
