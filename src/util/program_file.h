// The program a child of the player executes, opened before the child gives
// up root, and executed as the open file after it has where its path is out
// of the new user's reach.
//
// The child drops to a user (`discbox`, `nobody`) that may not reach the
// program's path: a tree unpacked in root's home (mode 0700) holds the
// simulator's stand-ins and a user's own decoder. Opened while the child is
// still root, the file runs wherever it lies; what the drop guarantees is
// untouched, since the kernel checks the file's execute permission, and
// applies no_new_privs, against the dropped credentials at the exec. The
// path is tried first all the same: a program executed by path keeps its
// name as the process's (kernels before 6.12 name a program executed from
// a descriptor by the descriptor's number, and ps, pidof and top show that),
// and a script needs no descriptor left open for its interpreter.
//
// A failed execution is reported to the child's holder on a close-on-exec
// pipe (its errno), since the child of a process with threads may not
// format text: the holder turns it into words (child_process::exec_error).
//
// Everything here runs in a freshly forked child and makes system calls
// only.
#pragma once

namespace util {

class program_file {
 public:
  // Opens `path` for execution only (O_PATH: a FIFO named as the program
  // must not block the child); `report` is the write end of the holder's
  // pipe, or -1.
  program_file(const char *path, int report);
  program_file(const program_file &) = delete;
  program_file &operator=(const program_file &) = delete;

  // Executes the program with `arguments` (the first is its name, the last
  // null) and `environment`: by its path, as the user the child now is, or
  // else the file opened before. Returns only when that failed: the error
  // then went to the holder, and is returned too.
  int execute(char *const arguments[], char *const environment[]) const;
  int execute(char *const arguments[]) const;

 private:
  int report(int error) const;

  const char *path_;
  int file_ = -1;
  int open_error_ = 0;  // why the program could not be opened
  int report_ = -1;
};

}  // namespace util
