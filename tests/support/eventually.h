// Waiting in a test for a state that the code under test cannot announce:
// the condition is looked at again every `interval` until it holds or the
// limit is reached. The limit is generous on purpose: a wait ends as soon as
// its condition holds, so only a failing test ever waits it out.
#pragma once

#include <chrono>
#include <functional>

bool eventually(const std::function<bool()> &condition,
                std::chrono::milliseconds limit = std::chrono::seconds(60),
                std::chrono::milliseconds interval = std::chrono::milliseconds(10));
