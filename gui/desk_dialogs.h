// The configuration dialogs the menus open: FTP options with the user
// editor, the settings, the import of system accounts. An empty entry makes
// its menu item do nothing (the tests leave them empty); MakeDeskDialogs is
// the one place that fills them.
#pragma once

#include <functional>

class QWidget;

namespace velto {

class CServerFacade;

struct DeskDialogs {
  // Modal over the main window.
  std::function<void(QWidget& owner)> ftpOptions;
  std::function<void(QWidget& owner)> settings;
  // Runs once the question was answered Yes. `owner` is null at the first
  // start, when the question comes before the main window exists.
  std::function<void(QWidget* owner)> importAccounts;
};

// The dialogs of this program over `facade` (borrowed; it outlives them).
DeskDialogs MakeDeskDialogs(CServerFacade& facade);

}  // namespace velto
