// How every disc and floppy is mounted: read-only, and carrying no
// privilege. Anyone may have burned it, and a Rock Ridge CD or an ext2
// floppy can hold set-user-ID programs and device nodes; these flags keep
// them inert for as long as the disc is mounted.
#pragma once

#include <sys/mount.h>

inline constexpr unsigned long disc_mount_flags = MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC;
