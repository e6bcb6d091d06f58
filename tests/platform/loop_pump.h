// Drives an event loop from a test the way a program's own loop would: wait
// on its descriptor, then process what is ready, until a condition holds.
#pragma once

#include "platform/event_loop.h"

#include <poll.h>

#include <chrono>

namespace velto::test {

// Pumps `loop` until `done` holds (true) or `limit` passes (false).
template <typename Pred>
bool PumpLoopUntil(platform::EventLoop& loop, Pred done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd p{loop.Fd(), POLLIN, 0};
    ::poll(&p, 1, 5);
    loop.ProcessReady();
  }
  return true;
}

}  // namespace velto::test
