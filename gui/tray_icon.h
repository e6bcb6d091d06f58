// The tray icon control: the notification-area icon over QSystemTrayIcon.
// Starting fails where the desktop has no tray (a service before anyone has
// logged on); the caller may retry. Left click and right click reach the
// owner as the mouse messages of admin/tray_service.h.
#pragma once

#include "admin/tray_service.h"

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <string>

namespace velto {

class TrayIcon final : public QObject, private ITrayShell {
  Q_OBJECT

 public:
  // `ownerTitle` gives the tip (the main window's title).
  explicit TrayIcon(TrayService::OwnerTitle ownerTitle, QObject* parent = nullptr);
  ~TrayIcon() override;

  bool StartTrayService() { return service_->StartTrayService(); }
  bool StopTrayService() { return service_->StopTrayService(); }
  bool Started() const { return service_->Started(); }
  void TitleChanged() { service_->TitleChanged(); }
  void SetIcon(const QIcon& icon);

  // The desktop reported a click; also how tests click.
  void Activate(QSystemTrayIcon::ActivationReason reason);
  // The tip the desktop shows.
  QString ToolTip() const { return icon_.toolTip(); }

 signals:
  // 513..518, one at a time (see TrayService::MouseMessage).
  void mouseMessage(int message);

 private:
  bool AddIcon(const std::string& tip) override;
  bool ModifyIcon(const std::string& tip) override;
  bool DeleteIcon() override;

  QSystemTrayIcon icon_;
  // After icon_: the service removes the icon when it goes.
  std::unique_ptr<TrayService> service_;
};

}  // namespace velto
