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
    : QObject(parent), service_(std::make_unique<TrayService>(static_cast<ITrayShell&>(*this), std::move(ownerTitle))) {
  icon_.setIcon(AppIcon());
  service_->OnMouse([this](int message) { emit mouseMessage(message); });
  connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::Activate);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::SetIcon(const QIcon& icon) { icon_.setIcon(icon); }

void TrayIcon::Activate(QSystemTrayIcon::ActivationReason reason) {
  service_->MouseMessage(MouseMessageFor(reason));
}

bool TrayIcon::AddIcon(const std::string& tip) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  icon_.setToolTip(ToQt(tip));
  icon_.show();
  return icon_.isVisible();
}

bool TrayIcon::ModifyIcon(const std::string& tip) {
  icon_.setToolTip(ToQt(tip));
  return icon_.isVisible();
}

bool TrayIcon::DeleteIcon() {
  icon_.hide();
  return true;
}

}  // namespace velto
