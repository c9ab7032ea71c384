// Runs discbox-sim as a person would: keys typed on its standard input,
// console lines read from its standard output. Scenario tests drive the
// whole player through it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "util/child_process.h"
#include "util/unique_fd.h"

class sim_process {
 public:
  // Starts discbox-sim with `arguments` (options and discs) and, in its
  // environment, `environment` ("NAME=value") added to ours.
  explicit sim_process(const std::vector<std::string> &arguments,
                       const std::vector<std::string> &environment = {});
  ~sim_process();  // kills it if it still runs
  sim_process(const sim_process &) = delete;
  sim_process &operator=(const sim_process &) = delete;

  void type(std::string_view keys);
  void close_keys();

  // Waits until the console output from `from` on holds `text`; returns the
  // offset just past it, or std::string::npos on time-out.
  size_t wait_for(std::string_view text, size_t from = 0,
                  std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // How often `text` occurs in the console output so far.
  size_t count(std::string_view text) const;
  std::string output() const;
  std::string errors() const;

  // Waits for the simulator to end by itself; returns its wait status, or
  // -1 on time-out.
  int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // The simulator's process id, also once it has ended.
  pid_t pid() const { return pid_; }

 private:
  void collect();

  pid_t pid_ = -1;
  // Reaped whatever happens; the destructor first gives the simulator ten
  // seconds to end on SIGTERM.
  util::child_process process_;
  util::unique_fd keys_;
  // Read by the collector thread; closed only once it has been joined.
  util::unique_fd console_;
  util::unique_fd error_;
  int exit_status_ = -1;
  bool ended_ = false;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  std::string errors_;
  bool streams_closed_ = false;
  std::thread collector_;
};

// The path of a program the build made (relative to the build folder).
std::string built_program(const std::string &relative_path);

// A fresh temporary folder for one test, removed with everything in it.
class temporary_folder {
 public:
  temporary_folder();
  ~temporary_folder();
  temporary_folder(const temporary_folder &) = delete;
  temporary_folder &operator=(const temporary_folder &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The lines of a text file (empty when it does not exist).
std::vector<std::string> read_lines(const std::string &path);
// How many of `lines` start with `prefix` (drive log requests of a kind).
std::size_t count_starting(const std::vector<std::string> &lines, const std::string &prefix);
