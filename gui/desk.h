// The administrator's windows over the running server: the main window and
// the tray's popup menu, and the windows they open (Diagnostics, Active
// Users, the activity windows, About, the configuration dialogs). It does
// what the main window's controller asks of the desktop, and hears the
// real-time feed, which it shows in the Diagnostics window (made, hidden,
// on the first line).
#pragma once

#include "gui/desk_dialogs.h"
#include "gui/list_widget_control.h"
#include "server/activity_windows.h"
#include "server/desk_controller.h"
#include "server/server_facade.h"

#include <QPointer>

#include <memory>

class QMenu;

namespace velto {

class FActiveUsers;
class FDiagnostics;
class FMainView;

class Desk final : public IDesk, private IFeedListener {
 public:
  // All borrowed; they must outlive the desk. The connection list becomes
  // the main window's.
  Desk(CServerFacade& facade, IUserInterface& ui, DeskDialogs dialogs);
  ~Desk() override;
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  FMainView& MainView() { return *mainView_; }
  QMenu& Popup() { return *popup_; }
  DeskController& Controller() { return *controller_; }
  ActivityWindows& Activity() { return *activity_; }
  // Null until first used / while closed.
  FDiagnostics* Diagnostics();
  FActiveUsers* ActiveUsersWindow();

  // IDesk
  void MinimizeMain() override;
  bool DiagnosticsShown() const override;
  void ShowDiagnostics(bool shown) override;
  void ShowActiveUsers(bool open) override;
  void ShowAbout() override;
  void OpenFtpOptions() override;
  void OpenSettings() override;
  void ImportAccounts() override;
  bool OpenAddress(const std::string& address) override;

 private:
  // IFeedListener
  void ActivityFeed(std::string_view line) override;
  void ConnectionOpened() override;
  void ConnectionClosed() override;

  FDiagnostics& EnsureDiagnostics();
  IActivityView& MakeActivityWindow(const std::string& key, const std::string& caption);

  CServerFacade& facade_;
  DeskDialogs dialogs_;
  std::unique_ptr<DeskController> controller_;
  std::unique_ptr<FMainView> mainView_;
  std::unique_ptr<QMenu> popup_;
  std::unique_ptr<ActivityWindows> activity_;
  // Windows of the main window (it owns them).
  QPointer<FDiagnostics> diagnostics_;
  QPointer<FActiveUsers> activeUsers_;
  // Keeps the Diagnostics counter on the session table.
  ScopedListener sessions_;
};

}  // namespace velto
