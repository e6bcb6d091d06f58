#include "portwell/timer.h"

#include <memory>
#include <unordered_map>

namespace portwell {

namespace {

using TimerTable = std::unordered_map<platform::TimerId, CTimer*>;

// pcolTimers: the enabled timers by loop timer id. Created by the first
// EnableTimer, dropped when a timer is destroyed while it is empty.
std::unique_ptr<TimerTable>& pcolTimers() {
  static std::unique_ptr<TimerTable> table;
  return table;
}

}  // namespace

CTimer::~CTimer() {
  DisableTimer();
  auto& table = pcolTimers();
  if (table && table->empty()) table.reset();
}

bool CTimer::EnableTimer() {
  auto& table = pcolTimers();
  if (!table) table = std::make_unique<TimerTable>();
  if (enabled_) return false;
  if (interval_ < 0) {
    enabled_ = false;
    return false;
  }
  const platform::TimerId id = platform::EventLoop::Instance().SetTimer(
      static_cast<std::uint32_t>(interval_), [](platform::TimerId tick) { TimerProc(tick); });
  if (id == 0) {
    enabled_ = false;
    return false;
  }
  (*table)[id] = this;
  timerId_ = id;
  timerIdText_ = std::to_string(id);
  enabled_ = true;
  return true;
}

bool CTimer::DisableTimer() {
  auto& table = pcolTimers();
  if (!table || timerId_ == 0) return false;
  auto it = table->find(timerId_);
  if (it == table->end() || it->second != this) return false;
  if (!platform::EventLoop::Instance().KillTimer(timerId_)) return false;
  table->erase(it);
  timerId_ = 0;
  timerIdText_.clear();
  enabled_ = false;
  return true;
}

void TimerProc(platform::TimerId id) {
  auto& table = pcolTimers();
  if (table) {
    auto it = table->find(id);
    if (it != table->end()) {
      // A copy: the handler may destroy the timer object.
      auto handler = it->second->IntervalReached;
      if (handler) handler();
      return;
    }
  }
  platform::EventLoop::Instance().KillTimer(id);
}

bool TimerTableExists() { return pcolTimers() != nullptr; }

std::size_t TimerTableCount() {
  const auto& table = pcolTimers();
  return table ? table->size() : 0;
}

void DropTimerTable() {
  auto& table = pcolTimers();
  if (!table) return;
  for (const auto& [id, timer] : *table) platform::EventLoop::Instance().KillTimer(id);
  table.reset();
}

}  // namespace portwell
