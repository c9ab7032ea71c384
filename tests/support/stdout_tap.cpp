// Catching standard output through a pipe, and putting it back.
#include "support/stdout_tap.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

stdout_tap::stdout_tap() {
  std::fflush(stdout);
  saved_.reset(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  caught_.reset(ends[0]);
  catcher_.reset(ends[1]);
  fcntl(caught_.get(), F_SETFL, O_NONBLOCK);
  dup2(catcher_.get(), STDOUT_FILENO);
}

stdout_tap::~stdout_tap() {
  std::fflush(stdout);
  dup2(saved_.get(), STDOUT_FILENO);
  saved_.reset();
  // The write end closes first, so that what is left can be read to the end.
  catcher_.reset();
  collect();
}

void stdout_tap::collect() {
  char bytes[4096];
  for (ssize_t got; (got = read(caught_.get(), bytes, sizeof bytes)) > 0;) {
    text_.append(bytes, static_cast<size_t>(got));
  }
}

bool stdout_tap::wait_for(std::string_view text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // The printing thread's stream may hold the line in its buffer.
    std::fflush(stdout);
    collect();
    if (text_.find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd readable{caught_.get(), POLLIN, 0};
    poll(&readable, 1, 10);
  }
}

const std::string &stdout_tap::text() {
  std::fflush(stdout);
  collect();
  return text_;
}
