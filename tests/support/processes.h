// Looking at processes from a test: which ones a process has started, and
// whether one still runs. Scenario tests use it to show that nothing the
// player started outlives what it was started for.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// The live children of `parent` (zombies left out).
std::vector<pid_t> child_processes(pid_t parent);

// True while `pid` exists and is not a zombie.
bool process_running(pid_t pid);

// The pids a file holds, one a line (frame-sink's pid file).
std::vector<pid_t> pids_in(const std::string &path);

// Waits until the file at `path` holds at least `bytes` bytes; false on
// time-out.
bool wait_for_size(const std::string &path, std::size_t bytes,
                   std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Waits until the file at `path` has not grown for `quiet`; returns its size.
std::size_t wait_until_quiet(const std::string &path, std::chrono::milliseconds quiet);

// Open descriptors of process `pid`.
int descriptors_of(pid_t pid);

// Lets the programs the player starts write into `folder`. Run as root, the
// player gives its decoder and PCM player up to another user; the stand-ins
// write their pid files and what they received into the test's folder.
void open_to_started_programs(const std::string &folder);

// The status text the kernel shows for `pid` (/proc/PID/status); empty once
// it is gone.
std::string status_of(pid_t pid);

// What a process with this status text holds of root and of capabilities,
// one item a line ("Uid 0", "CapAmb:\t0000000000200000", "no_new_privs off");
// empty when it holds nothing and cannot gain anything by exec.
std::string privileges_held(const std::string &status);

// Whether a program's standard error holds a report of a sanitizer (the
// processes that a simulator starts report there, not to the test).
bool has_sanitizer_report(const std::string &errors);
