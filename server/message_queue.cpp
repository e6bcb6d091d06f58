#include "server/message_queue.h"

#include <algorithm>
#include <stdexcept>

void CMessageQueue::AddHwnd(std::int32_t hwnd) {
  if (Contains(hwnd)) throw std::invalid_argument("Key is already associated with an element of this collection");
  handles_.emplace_back(std::to_string(hwnd), hwnd);
}

void CMessageQueue::RemoveHwnd(std::int32_t hwnd) {
  const std::string key = std::to_string(hwnd);
  auto it = std::find_if(handles_.begin(), handles_.end(), [&](const auto& e) { return e.first == key; });
  if (it == handles_.end()) throw std::out_of_range("Invalid procedure call or argument");
  handles_.erase(it);
}

bool CMessageQueue::Contains(std::int32_t hwnd) const {
  const std::string key = std::to_string(hwnd);
  return std::any_of(handles_.begin(), handles_.end(), [&](const auto& e) { return e.first == key; });
}

bool CMessageQueue::ProcessWndMsgs(std::int32_t vnUpdateOptions) {
  if (busy_) return false;
  busy_ = true;
  struct ClearBusy {
    bool& flag;
    ~ClearBusy() { flag = false; }
  } clear{busy_};

  if (vnUpdateOptions < 0 || vnUpdateOptions > 3) return false;
  const bool visibleOnly = vnUpdateOptions == 1 || vnUpdateOptions == 3;
  const bool repaint = vnUpdateOptions >= 2;

  bool dispatched = false;
  // A handler may register or remove targets: walk a snapshot.
  const auto snapshot = handles_;
  for (const auto& [key, hwnd] : snapshot) {
    if (!loop_.IsTarget(hwnd)) continue;
    if (visibleOnly && !loop_.IsVisible(hwnd)) continue;
    auto message = loop_.Peek(hwnd, true);
    if (!message) continue;
    loop_.Dispatch(*message);
    dispatched = true;
    if (repaint && repaint_) repaint_(hwnd);
  }
  return dispatched;
}
