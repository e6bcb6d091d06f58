#include "gui/desk_dialogs.h"

#include "gui/account_import_dialogs.h"
#include "gui/ftp_options_dialog.h"
#include "gui/settings_dialog.h"

namespace velto {

DeskDialogs MakeDeskDialogs(CServerFacade& facade) {
  DeskDialogs dialogs;
  dialogs.ftpOptions = [&facade](QWidget& owner) { ShowFTPOptions(facade, &owner); };
  dialogs.settings = [&facade](QWidget& owner) { ShowSettings(facade, &owner); };
  // The menu has asked already.
  dialogs.importAccounts = [&facade](QWidget* owner) { RunAccountImport(facade, owner); };
  return dialogs;
}

}  // namespace velto
