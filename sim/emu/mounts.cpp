// The emulated mounts of the drive and the floppy.
//
// A mount makes the mount point a symbolic link to the folder that stands for
// the disc (or the floppy), so everything the player then does with the files
// is ordinary file access. The answers follow mount(2): EBUSY when already
// mounted, ENOMEDIUM without a medium, EINVAL for a medium that does not hold
// the file system asked for, EACCES for a writable mount of a CD. What is
// mounted is kept in shared memory, since the MP3 mode's child reads the
// disc that its parent mounted.
//
// The kernel would mount a disc with its set-user-ID programs and device
// nodes live; the link cannot keep them inert, so a mount that does not ask
// for read-only, nosuid, nodev and noexec is refused (EPERM) instead, and a
// player that forgets one of them finds its discs unreadable at once. Each
// mount and unmount goes into the drive log with its flags and answer.
#include <limits.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "emu/drive_state.h"
#include "platform/platform.h"

namespace sim {
namespace {

struct mount_point_state {
  bool mounted = false;
  bool was_folder = false;  // an empty folder stood there, to be put back
  char path[PATH_MAX] = {};
};

struct shared_mounts_memory {
  process_mutex mutex;
  mount_point_state cdrom;
  mount_point_state floppy;
};

shared_mounts_memory &shared_mounts() {
  static shared_mounts_memory *mounts = make_shared_object<shared_mounts_memory>();
  return *mounts;
}

// A mount point is usually an empty folder: it is put aside while the link
// stands in its place. A link left there by a simulator that was killed
// while a disc was mounted is replaced.
int attach(mount_point_state &point, const char *path, const std::string &target) {
  struct stat status;
  bool was_folder = false;
  if (lstat(path, &status) == 0) {
    if (S_ISLNK(status.st_mode)) {
      if (unlink(path) != 0) return errno;
    } else if (S_ISDIR(status.st_mode)) {
      if (rmdir(path) != 0) return errno == ENOTEMPTY || errno == EEXIST ? EBUSY : errno;
      was_folder = true;
    } else {
      return ENOTDIR;
    }
  }
  if (symlink(target.c_str(), path) != 0) {
    const int error = errno;
    if (was_folder) mkdir(path, 0755);
    return error;
  }
  point.mounted = true;
  point.was_folder = was_folder;
  std::strncpy(point.path, path, sizeof point.path - 1);
  return 0;
}

void detach(mount_point_state &point) {
  unlink(point.path);
  if (point.was_folder) mkdir(point.path, 0755);
  point = mount_point_state{};
}

struct flag_name {
  unsigned long flag;
  const char *name;
};
constexpr flag_name flag_names[] = {
    {MS_RDONLY, "ro"}, {MS_NOSUID, "nosuid"}, {MS_NODEV, "nodev"}, {MS_NOEXEC, "noexec"}};
constexpr unsigned long inert_flags = MS_NOSUID | MS_NODEV | MS_NOEXEC;

// The flags as mount(8) lists them: "ro,nosuid", "rw" for none of these.
std::string flags_text(unsigned long flags) {
  std::string text;
  for (const flag_name &known : flag_names) {
    if ((flags & known.flag) == 0) continue;
    text += (text.empty() ? "" : ",") + std::string(known.name);
    flags &= ~known.flag;
  }
  if (text.empty()) text = "rw";
  if (flags != 0) {
    char others[24];
    std::snprintf(others, sizeof others, ",0x%lx", flags);
    text += others;
  }
  return text;
}

std::string answer_text(int error) {
  if (error == 0) return "ok";
  const char *name = strerrorname_np(error);
  return name ? name : std::to_string(error);
}

int mount_cdrom(const char *mount_point, const std::string &type, unsigned long flags) {
  mount_point_state &point = shared_mounts().cdrom;
  if (point.mounted) return EBUSY;
  if (type != "iso9660") return EINVAL;
  if ((flags & MS_RDONLY) == 0) return EACCES;
  if ((flags & inert_flags) != inert_flags) return EPERM;
  std::string folder;
  if (const int error = drive_claim_mount(folder); error != 0) return error;
  const int error = attach(point, mount_point, folder);
  if (error != 0) drive_release_mount();
  return error;
}

int mount_floppy(const char *mount_point, const std::string &type, unsigned long flags) {
  mount_point_state &point = shared_mounts().floppy;
  const std::string &folder = machine_config().floppy_folder;
  if (point.mounted) return EBUSY;
  if (folder.empty()) return ENOMEDIUM;
  if (type != "ext2") return EINVAL;
  if ((flags & (MS_RDONLY | inert_flags)) != (MS_RDONLY | inert_flags)) return EPERM;
  return attach(point, mount_point, std::filesystem::absolute(folder).string());
}

int mount_answer(const char *device, const char *mount_point, const char *type,
                 unsigned long flags) {
  if (!device || !mount_point || !type) return EFAULT;
  const machine_configuration &config = machine_config();
  const std::string source = device;
  if (source == platform::drive_device()) {
    if (config.cdrom_mount_point.empty() || config.cdrom_mount_point != mount_point) return ENOENT;
    return mount_cdrom(mount_point, type, flags);
  }
  if (source == platform::floppy_device()) {
    if (config.floppy_mount_point.empty() || config.floppy_mount_point != mount_point)
      return ENOENT;
    return mount_floppy(mount_point, type, flags);
  }
  return ENOENT;
}

int unmount_answer(const char *mount_point) {
  if (!mount_point) return EFAULT;
  shared_mounts_memory &mounts = shared_mounts();
  if (mounts.cdrom.mounted && std::strcmp(mounts.cdrom.path, mount_point) == 0) {
    detach(mounts.cdrom);
    drive_release_mount();
    return 0;
  }
  if (mounts.floppy.mounted && std::strcmp(mounts.floppy.path, mount_point) == 0) {
    detach(mounts.floppy);
    return 0;
  }
  return EINVAL;  // not a mount point
}

int result_of(int error) {
  if (error == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

// Takes down whatever the last run left mounted, wherever it was.
void reset_mounts_emulator() {
  shared_mounts_memory &mounts = shared_mounts();
  std::lock_guard<process_mutex> lock(mounts.mutex);
  if (mounts.cdrom.mounted) {
    detach(mounts.cdrom);
    drive_release_mount();
  }
  if (mounts.floppy.mounted) detach(mounts.floppy);
}

}  // namespace sim

namespace platform {

int mount_filesystem(const char *device, const char *mount_point, const char *type,
                     unsigned long flags) {
  std::lock_guard<sim::process_mutex> lock(sim::shared_mounts().mutex);
  const int error = sim::mount_answer(device, mount_point, type, flags);
  if (device && mount_point && type) {
    sim::log_drive_line("MOUNT " + std::string(device) + " " + mount_point + " " + type + " " +
                        sim::flags_text(flags) + " " + sim::answer_text(error));
  }
  return sim::result_of(error);
}

int unmount_filesystem(const char *mount_point) {
  std::lock_guard<sim::process_mutex> lock(sim::shared_mounts().mutex);
  const int error = sim::unmount_answer(mount_point);
  if (mount_point)
    sim::log_drive_line("UMOUNT " + std::string(mount_point) + " " + sim::answer_text(error));
  return sim::result_of(error);
}

}  // namespace platform
