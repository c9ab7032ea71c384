#include "support/stdout_tap.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

StdoutTap::StdoutTap() {
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  if (pipe2(pipe_, O_CLOEXEC) != 0) return;
  fcntl(pipe_[0], F_SETFL, O_NONBLOCK);
  dup2(pipe_[1], STDOUT_FILENO);
}

StdoutTap::~StdoutTap() {
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
  close(pipe_[1]);
  collect();
  close(pipe_[0]);
}

void StdoutTap::collect() {
  char bytes[4096];
  for (ssize_t got; (got = read(pipe_[0], bytes, sizeof bytes)) > 0;) {
    text_.append(bytes, static_cast<size_t>(got));
  }
}

bool StdoutTap::wait_for(std::string_view text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // The printing thread's stream may hold the line in its buffer.
    std::fflush(stdout);
    collect();
    if (text_.find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd readable{pipe_[0], POLLIN, 0};
    poll(&readable, 1, 10);
  }
}

const std::string &StdoutTap::text() {
  std::fflush(stdout);
  collect();
  return text_;
}
