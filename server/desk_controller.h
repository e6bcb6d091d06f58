// The main window without its widgets: what each menu command does, which
// items carry a check mark or are enabled, the connection list's Close and
// the logo's address. The view builds its menus from admin/desk_menus.h and
// hands every click to Run; what only a window can do goes through IDesk.
#pragma once

#include "admin/desk_menus.h"
#include "server/server_facade.h"
#include "server/user_interface.h"

#include <string>

namespace velto {

// The windows' side of the main window's commands.
class IDesk {
 public:
  virtual ~IDesk() = default;
  virtual void MinimizeMain() = 0;
  virtual bool DiagnosticsShown() const = 0;
  virtual void ShowDiagnostics(bool shown) = 0;
  virtual void ShowActiveUsers(bool open) = 0;
  virtual void ShowAbout() = 0;
  // The configuration dialogs, modal over the main window.
  virtual void OpenFtpOptions() = 0;
  virtual void OpenSettings() = 0;
  virtual void ImportAccounts() = 0;
  // The desktop's "open" action on a file or web address; false when no
  // program could be started for it.
  virtual bool OpenAddress(const std::string& address) = 0;
};

class DeskController {
 public:
  // The logo's tool tip: the maker's web address without its scheme.
  static constexpr const char* kLogoTip = "velto.example.org";

  // All borrowed; they must outlive the controller.
  DeskController(CServerFacade& facade, IUserInterface& ui, IDesk& desk);

  // Runs a menu item (either menu). kCloseConnection closes nothing: it
  // needs the list's selection (CloseConnection).
  void Run(DeskCommand command);
  // Whether the item's check mark is set, read when a menu opens.
  bool Checked(DeskCommand command) const;
  bool Enabled(DeskCommand command) const;

  // "&Connections" "&Close" with the selected row of the connection list
  // (-1: none): the client is cut off at once; its row goes when the
  // connection has ended. The listener's row stops the service, so that
  // is asked first.
  void CloseConnection(int selectedRow);
  static constexpr const char* kStopListenerQuestion =
      "This is the FTP listener: closing it stops the FTP service, and no client can connect until Services / "
      "Activate FTP starts it again. Close it?";

  // What a click on the logo opens.
  static std::string LogoAddress() { return std::string("http://") + kLogoTip; }
  void OpenLogoAddress() { Open(LogoAddress()); }
  // The help file, beside the program.
  std::string HelpFile() const { return facade_.AppPath() + "Velto.hlp"; }

 private:
  // Opens the address; when the desktop cannot, the administrator is told
  // the address to open by hand.
  void Open(const std::string& address);

  CServerFacade& facade_;
  IUserInterface& ui_;
  IDesk& desk_;
};

}  // namespace velto
