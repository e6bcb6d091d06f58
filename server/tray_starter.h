// Keeps trying to show the tray icon. A service starts before anyone has
// logged on to the desktop, so there may be no tray yet: every period the
// icon is tried again, and the timer stops once it shows.
#pragma once

#include "platform/event_loop.h"
#include "server/user_interface.h"

#include <cstdint>

namespace velto {

class TrayStarter {
 public:
  static constexpr std::uint32_t kPeriodMs = 5000;

  // Both borrowed; they must outlive the starter.
  TrayStarter(platform::EventLoop& loop, IUserInterface& ui, std::uint32_t periodMs = kPeriodMs);
  ~TrayStarter();
  TrayStarter(const TrayStarter&) = delete;
  TrayStarter& operator=(const TrayStarter&) = delete;

  // The timer still runs (the icon has not shown yet).
  bool Armed() const { return timer_ != 0; }

 private:
  void Tick();

  platform::EventLoop& loop_;
  IUserInterface& ui_;
  platform::TimerId timer_ = 0;
};

}  // namespace velto
