// The emulated mounts: a data disc or a floppy appears under its mount point,
// the refusals mount(2) would give, and one set of mounts for every process.
#include <linux/cdrom.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/disc_mount.h"
#include "platform/platform.h"
#include "support/machine_fixture.h"

namespace {

class MountsTest : public machine_fixture {
 protected:
  // 0, or the errno the mount answered.
  static int mount_cdrom(const char *type = "iso9660", unsigned long flags = disc_mount_flags) {
    const int result = platform::mount_filesystem(platform::drive_device(),
                                                  platform::cdrom_mount_point(), type, flags);
    return result == 0 ? 0 : errno;
  }
  static int mount_floppy(const char *type, unsigned long flags = disc_mount_flags) {
    const int result = platform::mount_filesystem(platform::floppy_device(),
                                                  platform::floppy_mount_point(), type, flags);
    return result == 0 ? 0 : errno;
  }
  static int unmount(const char *mount_point) {
    return platform::unmount_filesystem(mount_point) == 0 ? 0 : errno;
  }
  static std::string read(const std::string &file) {
    std::ifstream stream(file);
    return std::string(std::istreambuf_iterator<char>(stream), {});
  }
  static bool exists(const char *path) {
    struct stat status;
    return lstat(path, &status) == 0;
  }
};

TEST_F(MountsTest, DataDiscAppearsUnderTheMountPointUntilUnmounted) {
  write_file("disc/Artist/Album/01.mp3", "frames");
  load_discs({data_disc(path("disc"))});
  std::filesystem::create_directory(platform::cdrom_mount_point());
  ASSERT_EQ(mount_cdrom(), 0);
  EXPECT_EQ(read(path("cdrom/Artist/Album/01.mp3")), "frames");
  EXPECT_EQ(mount_cdrom(), EBUSY);

  const int fd = platform::drive_open();
  EXPECT_EQ(platform::drive_request(fd, CDROMEJECT, nullptr), -1) << "a mounted disc stays in";
  EXPECT_EQ(errno, EBUSY);

  EXPECT_EQ(unmount(platform::cdrom_mount_point()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(platform::cdrom_mount_point())) << "put back";
  EXPECT_TRUE(std::filesystem::is_empty(platform::cdrom_mount_point()));
  EXPECT_EQ(unmount(platform::cdrom_mount_point()), EINVAL);
  EXPECT_EQ(platform::drive_request(fd, CDROMEJECT, nullptr), 0);
  platform::drive_close(fd);
}

TEST_F(MountsTest, DriveMountIsRefusedAsTheKernelWould) {
  EXPECT_EQ(mount_cdrom(), ENOMEDIUM);
  load_discs({audio_disc({60})});
  EXPECT_EQ(mount_cdrom(), EINVAL);
  load_discs({blank_disc()});
  EXPECT_EQ(mount_cdrom(), EINVAL);

  load_discs({data_disc(folder())});
  EXPECT_EQ(mount_cdrom("ext2"), EINVAL);
  EXPECT_EQ(mount_cdrom("iso9660", MS_NOSUID | MS_NODEV | MS_NOEXEC), EACCES)
      << "a CD is read-only";
  EXPECT_EQ(
      platform::mount_filesystem(platform::drive_device(), "/elsewhere", "iso9660", MS_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(exists(platform::cdrom_mount_point()));
}

TEST_F(MountsTest, FloppyMountsAsExt2WhenOneIsIn) {
  EXPECT_EQ(mount_floppy("ext2"), ENOMEDIUM);
  write_file("floppy-disk/readme", "hello");
  sim::machine_config().floppy_folder = path("floppy-disk");
  EXPECT_EQ(mount_floppy("vfat"), EINVAL);
  ASSERT_EQ(mount_floppy("ext2"), 0);
  EXPECT_EQ(read(path("floppy/readme")), "hello");
  EXPECT_EQ(unmount(platform::floppy_device()), EINVAL) << "unmounting names the mount point";
  EXPECT_EQ(unmount(platform::floppy_mount_point()), 0);
  EXPECT_FALSE(exists(platform::floppy_mount_point()));
}

// The kernel would take these mounts and let the disc's set-user-ID programs
// and device nodes work; the emulator refuses them, so that a player that
// forgets a flag cannot play a disc here. The log shows what was asked.
TEST_F(MountsTest, MountsThatWouldLetTheDiscCarryPrivilegeAreRefused) {
  load_discs({data_disc(folder())});
  sim::machine_config().floppy_folder = folder();
  const unsigned long inert = MS_NOSUID | MS_NODEV | MS_NOEXEC;
  for (const unsigned long left_out : {MS_NOSUID, MS_NODEV, MS_NOEXEC}) {
    EXPECT_EQ(mount_cdrom("iso9660", (MS_RDONLY | inert) & ~left_out), EPERM) << left_out;
    EXPECT_EQ(mount_floppy("ext2", (MS_RDONLY | inert) & ~left_out), EPERM) << left_out;
  }
  EXPECT_EQ(mount_floppy("ext2", inert), EPERM) << "a writable floppy";
  EXPECT_FALSE(exists(platform::cdrom_mount_point()));
  EXPECT_FALSE(exists(platform::floppy_mount_point()));

  ASSERT_EQ(mount_cdrom(), 0);
  EXPECT_EQ(unmount(platform::cdrom_mount_point()), 0);
  const std::vector<std::string> log = drive_log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], "MOUNT /dev/sr0 " + path("cdrom") + " iso9660 ro,nodev,noexec EPERM");
  EXPECT_EQ(log.rbegin()[1],
            "MOUNT /dev/sr0 " + path("cdrom") + " iso9660 ro,nosuid,nodev,noexec ok");
  EXPECT_EQ(log.back(), "UMOUNT " + path("cdrom") + " ok");
}

TEST_F(MountsTest, ChildrenShareTheMountsAndAResetTakesThemDown) {
  load_discs({data_disc(folder())});
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(mount_cdrom());
  int child_status = -1;
  ASSERT_EQ(waitpid(child, &child_status, 0), child);
  EXPECT_EQ(child_status, 0);
  EXPECT_EQ(mount_cdrom(), EBUSY);

  sim::reset_machine();
  EXPECT_FALSE(exists(platform::cdrom_mount_point()));
  EXPECT_EQ(mount_cdrom(), 0);
}

}  // namespace
