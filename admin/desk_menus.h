// The commands of the main window's menus and of the tray's popup menu, and
// which items each menu holds in which order. The views build their menus
// from these tables; the main window's controller runs the commands.
#pragma once

#include <span>
#include <string_view>

namespace velto {

enum class DeskCommand {
  kSeparator,
  kMinimize,         // File / Close
  kExit,
  kDiagnostics,      // show or hide the Diagnostics window (check mark)
  kFtpOptions,
  kImportUsers,
  kViewRealTime,     // the real-time feed (check mark)
  kViewActiveUsers,  // open or close the Active Users window (check mark)
  kSettings,
  kActivateFtp,      // the listener (check mark)
  kCloseConnection,
  kHelpContents,
  kSupportOnline,
  kAbout,
};

struct DeskMenuItem {
  std::string_view caption;  // "&" marks the access key
  DeskCommand command;
  bool checkable = false;
};

struct DeskMenu {
  std::string_view caption;
  std::span<const DeskMenuItem> items;
};

// "&File", "&Options", "&Services", "&Connections", "&Help".
std::span<const DeskMenu> MainMenus();
// The tray icon's popup menu.
std::span<const DeskMenuItem> PopupMenu();

}  // namespace velto
