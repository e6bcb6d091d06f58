// SIGHUP, the administrator's "read your files again", as a call on the
// event loop.
#pragma once

#include "platform/event_loop.h"

#include <functional>

namespace velto {

class HangupWatch {
 public:
  // Calls `onHangup` on the loop for every SIGHUP while the object lives.
  // SIGHUP is blocked for the signal descriptor, so threads started later
  // (the windowing library's) inherit the block and cannot take it with its
  // default effect, which ends the process. Afterwards SIGHUP is ignored:
  // the watch ends as the program does.
  HangupWatch(platform::EventLoop& loop, std::function<void()> onHangup);
  ~HangupWatch();
  HangupWatch(const HangupWatch&) = delete;
  HangupWatch& operator=(const HangupWatch&) = delete;

  bool Watching() const { return watching_; }

 private:
  platform::EventLoop& loop_;
  std::function<void()> onHangup_;
  platform::TargetHandle target_ = 0;
  bool watching_ = false;
};

}  // namespace velto
