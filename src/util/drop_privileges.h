// Who the programs the player starts run as, and the step that makes a
// freshly forked child exactly that before it executes one.
//
// The decoder and the PCM player parse bytes that come from a disc; a fault
// in either must not be a fault with root's rights or the player's
// capabilities (mounting, raw port I/O). So each such child, between fork
// and exec:
//  - started as root, becomes the system user the player names (`discbox`,
//    in group `audio` for the sound card). Where no such user exists (a
//    simulator run as root, a box installed by hand), it becomes `nobody`
//    with the `audio` group instead: it never stays root;
//  - clears every capability it holds: the ambient set (the service hands
//    the player ambient capabilities, which an exec would pass on), the
//    inheritable, permitted and effective sets and, while it still may, the
//    bounding set;
//  - sets no_new_privs, so that no set-user-ID or file-capability program it
//    executes gains anything;
//  - gives up the controlling terminal: the keys typed there are the
//    player's, and mpg123 would read them from /dev/tty (and reset the
//    terminal when it ends).
//
// The lookup reads the user database, which a child forked from a process
// with threads must not do, so it runs in the parent before the fork; the
// drop itself makes system calls only.
#pragma once

#include <sys/types.h>

namespace util {

inline constexpr int max_child_groups = 32;
// The status of a child that ends before it executes its program.
inline constexpr int exit_not_executed = 127;

struct child_identity {
  bool change_user = false;  // the parent is root: the child must become uid/gid
  uid_t uid = 0;
  gid_t gid = 0;
  int group_count = 0;  // supplementary groups
  gid_t groups[max_child_groups] = {};
};

// What a child of this process runs as. A user that does not exist, or one
// that is root by its ids, is replaced by `nobody` with the `audio` group;
// the first time that happens in a process it says so on the console.
child_identity child_identity_for(const char *user);

// In the child, after fork and before exec: 0 when the child is now what
// `identity` says, holds no capability and has no terminal; -1 when a step
// failed, and then the child must not execute anything.
int drop_privileges(const child_identity &identity);
// The same, for the child that is about to execute: when a step fails it
// says so on the console and ends at once with status 127, running nothing.
void drop_privileges_or_exit(const child_identity &identity);

}  // namespace util
