#include "gui/tray_icon.h"

#include "gui/app_resources.h"
#include "gui/text.h"

namespace velto {

namespace {

// Qt reports clicks by what they mean; the owner expects the desktop's
// mouse messages.
int MouseMessageFor(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return kTrayLeftDown;
    case QSystemTrayIcon::DoubleClick:
      return kTrayLeftDouble;
    case QSystemTrayIcon::Context:
      return kTrayRightUp;
    default:
      return 0;
  }
}

}  // namespace

TrayIcon::TrayIcon(TrayService::OwnerTitle ownerTitle, QObject* parent)
    : QObject(parent), mService(std::make_unique<TrayService>(static_cast<ITrayShell&>(*this), std::move(ownerTitle))) {
  mIcon.setIcon(AppIcon());
  mService->OnMouse([this](int message) { emit mouseMessage(message); });
  connect(&mIcon, &QSystemTrayIcon::activated, this, &TrayIcon::Activate);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::SetIcon(const QIcon& icon) { mIcon.setIcon(icon); }

void TrayIcon::Activate(QSystemTrayIcon::ActivationReason reason) {
  mService->MouseMessage(MouseMessageFor(reason));
}

bool TrayIcon::AddIcon(const std::string& tip) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  mIcon.setToolTip(ToQt(tip));
  mIcon.show();
  return mIcon.isVisible();
}

bool TrayIcon::ModifyIcon(const std::string& tip) {
  mIcon.setToolTip(ToQt(tip));
  return mIcon.isVisible();
}

bool TrayIcon::DeleteIcon() {
  mIcon.hide();
  return true;
}

}  // namespace velto
