// Catches what this process prints on standard output while it lives, so a
// test can wait for a console line that another thread prints, instead of
// sleeping and hoping that the thread got there.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "util/unique_fd.h"

class stdout_tap {
 public:
  stdout_tap();
  ~stdout_tap();  // standard output goes back where it went before
  stdout_tap(const stdout_tap &) = delete;
  stdout_tap &operator=(const stdout_tap &) = delete;

  // Waits until the output caught so far holds `text`; false on time-out.
  bool wait_for(std::string_view text,
                std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Everything caught so far.
  const std::string &text();

 private:
  void collect();

  util::unique_fd saved_;    // where standard output went before
  util::unique_fd caught_;   // the pipe's read end
  util::unique_fd catcher_;  // its write end, standard output meanwhile
  std::string text_;
};
