// Looking up the user the player's children run as (in the parent), and
// giving up root and every capability in the child before it executes.
#include "util/drop_privileges.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace util {
namespace {

constexpr char fallback_user[] = "nobody";
constexpr char sound_group[] = "audio";
// nobody and nogroup, where the user database does not have them.
constexpr uid_t nobody_uid = 65534;
constexpr gid_t nogroup_gid = 65534;
constexpr char text_no_user[] = "no user %s: started programs run as nobody\n";
constexpr char text_not_dropped[] = "could not give up root and capabilities: not started\n";
// An entry larger than this is taken as broken rather than grown for.
constexpr size_t largest_entry = 1 << 20;

// The entry of `name` that `look_up` (getpwnam_r, getgrnam_r) finds, in
// `buffer`, grown for as long as the entry does not fit.
template <class Entry, class LookUp>
bool find_entry(LookUp look_up, const char *name, Entry &entry, std::vector<char> &buffer) {
  buffer.resize(1024);
  Entry *found = nullptr;
  int error;
  while ((error = look_up(name, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < largest_entry) {
    buffer.resize(buffer.size() * 2);
  }
  return error == 0 && found != nullptr;
}

bool find_user(const char *name, passwd &entry, std::vector<char> &buffer) {
  return find_entry(getpwnam_r, name, entry, buffer);
}

bool find_group(const char *name, gid_t &gid) {
  group entry;
  std::vector<char> buffer;
  if (!find_entry(getgrnam_r, name, entry, buffer)) return false;
  gid = entry.gr_gid;
  return true;
}

// Adds the groups `user` belongs to besides root's; a user in more groups
// than a child keeps gets the first of them, never more.
void add_groups(child_identity &identity, const char *user) {
  std::vector<gid_t> groups(max_child_groups);
  int count = static_cast<int>(groups.size());
  while (getgrouplist(user, identity.gid, groups.data(), &count) < 0 &&
         static_cast<size_t>(count) > groups.size()) {
    groups.resize(static_cast<size_t>(count));
  }
  for (int i = 0; i < count && identity.group_count < max_child_groups; ++i) {
    if (groups[static_cast<size_t>(i)] != 0) {
      identity.groups[identity.group_count++] = groups[static_cast<size_t>(i)];
    }
  }
}

void become_nobody(child_identity &identity) {
  passwd entry;
  std::vector<char> buffer;
  const bool found = find_user(fallback_user, entry, buffer) && entry.pw_uid != 0;
  identity.uid = found ? entry.pw_uid : nobody_uid;
  identity.gid = found && entry.pw_gid != 0 ? entry.pw_gid : nogroup_gid;
  gid_t audio;
  if (find_group(sound_group, audio) && audio != 0) identity.groups[identity.group_count++] = audio;
}

// Gives up the controlling terminal, whose keys are the player's: a decoder
// that finds one (mpg123 opens /dev/tty) reads keys from it and resets it.
// The child stays in the player's process group.
void leave_terminal() {
  const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) return;
  ioctl(terminal, TIOCNOTTY);
  close(terminal);
}

bool reaches_terminal() {
  const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) return false;
  close(terminal);
  return true;
}

}  // namespace

child_identity child_identity_for(const char *user) {
  child_identity identity;
  if (getuid() != 0 && geteuid() != 0) return identity;
  identity.change_user = true;
  passwd entry;
  std::vector<char> buffer;
  if (user != nullptr && find_user(user, entry, buffer) && entry.pw_uid != 0 && entry.pw_gid != 0) {
    identity.uid = entry.pw_uid;
    identity.gid = entry.pw_gid;
    add_groups(identity, user);
    return identity;
  }
  static std::atomic<bool> said{false};
  if (!said.exchange(true)) std::fprintf(stderr, text_no_user, user != nullptr ? user : "");
  become_nobody(identity);
  return identity;
}

int drop_privileges(const child_identity &identity) {
  leave_terminal();
  if (reaches_terminal()) return -1;
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
  if (identity.change_user) {
    // Root may still empty the bounding set, so that nothing the child ever
    // executes can get a capability back. Best effort: without the right to
    // (CAP_SETPCAP), no_new_privs and the empty sets below still hold.
    for (int capability = 0; prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0; ++capability) {
      prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    }
    if (setgroups(static_cast<size_t>(identity.group_count), identity.groups) != 0 ||
        setresgid(identity.gid, identity.gid, identity.gid) != 0 ||
        setresuid(identity.uid, identity.uid, identity.uid) != 0) {
      return -1;
    }
  }
  // EINVAL: a kernel older than 4.3, which has no ambient set.
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) return -1;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, sets) != 0) return -1;

  // What the kernel now holds for the child, not what was asked for.
  if (syscall(SYS_capget, &header, sets) != 0) return -1;
  for (const __user_cap_data_struct &set : sets) {
    if (set.effective != 0 || set.permitted != 0 || set.inheritable != 0) return -1;
  }
  if (identity.change_user) {
    uid_t real, effective, saved;
    gid_t real_group, effective_group, saved_group;
    if (getresuid(&real, &effective, &saved) != 0 ||
        getresgid(&real_group, &effective_group, &saved_group) != 0 || real != identity.uid ||
        effective != identity.uid || saved != identity.uid || real_group != identity.gid ||
        effective_group != identity.gid || saved_group != identity.gid) {
      return -1;
    }
  }
  return 0;
}

void drop_privileges_or_exit(const child_identity &identity) {
  if (drop_privileges(identity) == 0) return;
  const ssize_t written = write(STDOUT_FILENO, text_not_dropped, sizeof text_not_dropped - 1);
  static_cast<void>(written);
  _exit(exit_not_executed);
}

}  // namespace util
