// Blocks a set of signals in the calling thread for as long as it lives,
// then puts back the mask that was there before.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <initializer_list>

namespace util {

class blocked_signals {
 public:
  explicit blocked_signals(std::initializer_list<int> signals) {
    sigemptyset(&set_);
    for (const int signal : signals) sigaddset(&set_, signal);
    blocked_ = pthread_sigmask(SIG_BLOCK, &set_, &before_) == 0;
  }
  blocked_signals(const blocked_signals &) = delete;
  blocked_signals &operator=(const blocked_signals &) = delete;
  ~blocked_signals() {
    if (blocked_) pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }

  bool blocked() const { return blocked_; }
  const sigset_t &set() const { return set_; }
  // The mask from before: what a forked child that must not inherit the
  // block puts back.
  const sigset_t &previous() const { return before_; }

 private:
  sigset_t set_{};
  sigset_t before_{};
  bool blocked_ = false;
};

}  // namespace util
