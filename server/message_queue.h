// Lets long-running work hand one pending message to each of the program's
// registered targets without returning to the main loop.
#pragma once

#include "platform/event_loop.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class CMessageQueue {
 public:
  explicit CMessageQueue(platform::EventLoop& loop) : loop_(loop) {}

  // Registration by handle; a duplicate throws std::invalid_argument, a
  // handle that is not registered throws std::out_of_range.
  void AddHwnd(std::int32_t hwnd);
  void RemoveHwnd(std::int32_t hwnd);
  bool Contains(std::int32_t hwnd) const;
  std::size_t Count() const { return handles_.size(); }

  // Options: 0 all targets, 1 visible only, 2 all + repaint, 3 visible +
  // repaint. Dispatches at most one message per registered target; true
  // when anything was dispatched. A nested call returns false at once.
  bool ProcessWndMsgs(std::int32_t vnUpdateOptions = 0);

  // Called after a dispatch with options 2 and 3 (a view repaints there).
  void SetRepaint(std::function<void(std::int32_t)> repaint) { repaint_ = std::move(repaint); }

 private:
  platform::EventLoop& loop_;
  std::vector<std::pair<std::string, std::int32_t>> handles_;  // registration order
  bool busy_ = false;
  std::function<void(std::int32_t)> repaint_;
};
