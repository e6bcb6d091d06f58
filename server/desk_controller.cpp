#include "server/desk_controller.h"

#include "admin/connection_entries.h"

#include <unistd.h>

namespace velto {

DeskController::DeskController(CServerFacade& facade, IUserInterface& ui, IDesk& desk)
    : facade_(facade), ui_(ui), desk_(desk) {}

void DeskController::Run(DeskCommand command) {
  switch (command) {
    case DeskCommand::kMinimize:
      desk_.MinimizeMain();
      break;
    case DeskCommand::kExit:
      facade_.RequestExit();
      break;
    case DeskCommand::kDiagnostics:
      desk_.ShowDiagnostics(!desk_.DiagnosticsShown());
      break;
    case DeskCommand::kFtpOptions:
      desk_.OpenFtpOptions();
      break;
    case DeskCommand::kImportUsers:
      if (ui_.ShowAppMessage("Would you like choose users to add from an existing NT Domain, Server, or workstation "
                             "(it may take a few seconds)?",
                             kMbYesNo, "Import Users") == kIdYes) {
        desk_.ImportAccounts();
      }
      break;
    case DeskCommand::kViewRealTime:
      facade_.SetViewRealTime(!facade_.ViewRealTime());
      break;
    case DeskCommand::kViewActiveUsers:
      desk_.ShowActiveUsers(!facade_.ActiveUsersOpen());
      break;
    case DeskCommand::kSettings:
      desk_.OpenSettings();
      break;
    case DeskCommand::kActivateFtp:
      facade_.ActivateFTP();
      break;
    case DeskCommand::kHelpContents:
      // There is no help file unless someone put one there.
      if (::access(HelpFile().c_str(), R_OK) == 0) Open(HelpFile());
      break;
    case DeskCommand::kSupportOnline:
      if (!facade_.SupportOnlineURL().empty()) Open(facade_.SupportOnlineURL());
      break;
    case DeskCommand::kAbout:
      desk_.ShowAbout();
      break;
    case DeskCommand::kCloseConnection:
    case DeskCommand::kSeparator:
      break;
  }
}

bool DeskController::Checked(DeskCommand command) const {
  switch (command) {
    case DeskCommand::kDiagnostics:
      return desk_.DiagnosticsShown();
    case DeskCommand::kViewRealTime:
      return facade_.Menus().viewRealTimeChecked;
    case DeskCommand::kViewActiveUsers:
      return facade_.ActiveUsersOpen();
    case DeskCommand::kActivateFtp:
      return facade_.Menus().activateFTPChecked;
    default:
      return false;
  }
}

bool DeskController::Enabled(DeskCommand command) const {
  return command != DeskCommand::kImportUsers || facade_.Menus().importNTUsersEnabled;
}

void DeskController::CloseConnection(int selectedRow) {
  IListControl& list = facade_.ConnectionList();
  if (selectedRow < 0 || selectedRow >= list.RowCount()) {
    ui_.ShowAppMessage("Choose an active connection to close.", kMbOk, "");
    return;
  }
  if (CConnectionEntry::IsListeningRow(list.RowText(selectedRow)) &&
      ui_.ShowAppMessage(kStopListenerQuestion, kMbQuestion, "Close") != kIdYes) {
    return;
  }
  facade_.CloseConnection(list.RowData(selectedRow));
}

void DeskController::Open(const std::string& address) {
  if (desk_.OpenAddress(address)) return;
  ui_.ShowAppMessage(address.starts_with('/') ? "No program could be started to show " + address + "."
                                              : "No web browser could be started. The address is " + address,
                     kMbOk, "");
}

}  // namespace velto
