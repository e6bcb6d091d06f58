// CTimer: a periodic timer object on the process's event loop. The loop timer
// carries no pointer to the object: its callback (TimerProc) finds the object
// in the module-wide table pcolTimers by timer id, so a tick that comes after
// the object is gone only kills the stray loop timer.
#pragma once

#include "platform/event_loop.h"

#include <cstdint>
#include <functional>
#include <string>

namespace portwell {

class CTimer {
 public:
  CTimer() = default;
  ~CTimer();
  CTimer(const CTimer&) = delete;
  CTimer& operator=(const CTimer&) = delete;

  // Period used when the timer is next enabled; a running timer keeps its
  // period.
  std::int32_t Interval() const { return interval_; }
  void SetInterval(std::int32_t milliseconds) { interval_ = milliseconds; }
  bool Enabled() const { return enabled_; }
  // Decimal text of the running loop timer's id ("" when disabled).
  const std::string& TimerID() const { return timerIdText_; }

  // True when this call started the timer.
  bool EnableTimer();
  // True when a running timer was stopped.
  bool DisableTimer();

  // Free text for the owner (a linger close keeps the socket handle here).
  std::string Tag;
  // One tick. The handler may destroy this object.
  std::function<void()> IntervalReached;

 private:
  std::int32_t interval_ = 0;
  bool enabled_ = false;
  platform::TimerId timerId_ = 0;
  std::string timerIdText_;
};

// The loop timers' callback: raises IntervalReached of the enabled timer with
// that id, or kills a loop timer nobody knows.
void TimerProc(platform::TimerId id);

// Module table state (tests and the component's destruction).
bool TimerTableExists();
std::size_t TimerTableCount();
// Drops pcolTimers. The loop timers of objects still enabled are killed as
// well: after the library is unloaded nothing may call into it.
void DropTimerTable();

}  // namespace portwell
