// The desktop side of the program when a display exists: message boxes, the
// main window's title and visibility, the start-up window and the tray icon.
// The main window and the tray's popup menu are attached once they exist;
// a title or visibility asked for before that is applied on attach.
#pragma once

#include "gui/tray_icon.h"
#include "server/user_interface.h"

#include <QPointer>

#include <memory>
#include <string>

class QMenu;
class QWidget;

namespace velto {

class FSplash;

class QtUserInterface final : public IUserInterface {
 public:
  // `programName` titles message boxes that have no title of their own.
  explicit QtUserInterface(std::string programName);
  ~QtUserInterface() override;
  QtUserInterface(const QtUserInterface&) = delete;
  QtUserInterface& operator=(const QtUserInterface&) = delete;

  int ShowAppMessage(const std::string& text, int style, const std::string& title) override;
  bool StartTrayIcon() override;
  void StopTrayIcon() override;
  bool TrayIconStarted() const override { return tray_->Started(); }
  void ShowMainWindow(bool visible) override;
  void SetTitle(const std::string& title) override;
  // Shows the start-up window on first use.
  void SplashStatus(const std::string& text) override;
  // Start-up is done: the start-up window closes once it has been shown
  // long enough.
  void SplashReady() override;

  // Both borrowed; they must outlive this object or be detached (nullptr).
  void AttachMainWindow(QWidget* window);
  void SetTrayMenu(QMenu* menu);

  TrayIcon& Tray() { return *tray_; }
  // Null until SplashStatus was called.
  FSplash* Splash() { return splash_.get(); }

 private:
  void OnTrayMouse(int message);

  std::string programName_;
  std::string title_;
  bool wantVisible_ = false;
  QPointer<QWidget> mainWindow_;
  QPointer<QMenu> trayMenu_;
  std::unique_ptr<TrayIcon> tray_;
  std::unique_ptr<FSplash> splash_;
};

}  // namespace velto
