#include "server/tray_starter.h"

namespace velto {

TrayStarter::TrayStarter(platform::EventLoop& loop, IUserInterface& ui, std::uint32_t periodMs)
    : mLoop(loop), mUi(ui) {
  mTimer = mLoop.SetTimer(periodMs, [this](platform::TimerId) { Tick(); });
}

TrayStarter::~TrayStarter() {
  if (mTimer != 0) mLoop.KillTimer(mTimer);
}

void TrayStarter::Tick() {
  if (!mUi.TrayIconStarted()) mUi.StartTrayIcon();
  if (!mUi.TrayIconStarted()) return;
  mLoop.KillTimer(mTimer);
  mTimer = 0;
}

}  // namespace velto
