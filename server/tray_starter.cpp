#include "server/tray_starter.h"

namespace velto {

TrayStarter::TrayStarter(platform::EventLoop& loop, IUserInterface& ui, std::uint32_t periodMs)
    : loop_(loop), ui_(ui) {
  timer_ = loop_.SetTimer(periodMs, [this](platform::TimerId) { Tick(); });
}

TrayStarter::~TrayStarter() {
  if (timer_ != 0) loop_.KillTimer(timer_);
}

void TrayStarter::Tick() {
  if (!ui_.TrayIconStarted()) ui_.StartTrayIcon();
  if (!ui_.TrayIconStarted()) return;
  loop_.KillTimer(timer_);
  timer_ = 0;
}

}  // namespace velto
