// A one-off clean-up run when the scope is left, however it is left, unless
// dismissed: for the undo steps that have no owner type of their own.
#pragma once

#include <utility>

namespace util {

template <typename F>
class scope_exit {
 public:
  explicit scope_exit(F undo) : undo_(std::move(undo)) {}
  scope_exit(const scope_exit &) = delete;
  scope_exit &operator=(const scope_exit &) = delete;
  ~scope_exit() {
    if (armed_) undo_();
  }
  void dismiss() { armed_ = false; }

 private:
  F undo_;
  bool armed_ = true;
};

}  // namespace util
