// Catches what this process prints on standard output while it lives, so a
// test can wait for a console line that another thread prints, instead of
// sleeping and hoping that the thread got there.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

class StdoutTap {
 public:
  StdoutTap();
  ~StdoutTap();  // standard output goes back where it went before
  StdoutTap(const StdoutTap &) = delete;
  StdoutTap &operator=(const StdoutTap &) = delete;

  // Waits until the output caught so far holds `text`; false on time-out.
  bool wait_for(std::string_view text,
                std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Everything caught so far.
  const std::string &text();

 private:
  void collect();

  int saved_ = -1;
  int pipe_[2] = {-1, -1};
  std::string text_;
};
