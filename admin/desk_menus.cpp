#include "admin/desk_menus.h"

namespace velto {

namespace {

using C = DeskCommand;

constexpr DeskMenuItem kFile[] = {
    {"&Close", C::kMinimize},
    {"", C::kSeparator},
    {"E&xit", C::kExit},
};
constexpr DeskMenuItem kOptions[] = {
    {"&Diagnostics...", C::kDiagnostics, true},
    {"&FTP Options", C::kFtpOptions},
    {"Import &NT Users...", C::kImportUsers},
    {"&View Real Time", C::kViewRealTime, true},
    {"View &Active Users", C::kViewActiveUsers, true},
    {"", C::kSeparator},
    {"&Settings", C::kSettings},
};
constexpr DeskMenuItem kServices[] = {
    {"Activate &FTP", C::kActivateFtp, true},
};
constexpr DeskMenuItem kConnections[] = {
    {"&Close", C::kCloseConnection},
};
constexpr DeskMenuItem kHelp[] = {
    {"&Contents", C::kHelpContents},
    {"&Support Online...", C::kSupportOnline},
    {"", C::kSeparator},
    {"&About", C::kAbout},
};
constexpr DeskMenu kMainMenus[] = {
    {"&File", kFile}, {"&Options", kOptions}, {"&Services", kServices}, {"&Connections", kConnections},
    {"&Help", kHelp},
};

constexpr DeskMenuItem kPopup[] = {
    {"About", C::kAbout},
    {"", C::kSeparator},
    {"Activate FTP", C::kActivateFtp, true},
    {"", C::kSeparator},
    {"Diagnostics...", C::kDiagnostics, true},
    {"FTP Options", C::kFtpOptions},
    {"View Real Time", C::kViewRealTime, true},
    {"View Active Users", C::kViewActiveUsers, true},
    {"", C::kSeparator},
    {"Settings", C::kSettings},
    {"", C::kSeparator},
    {"Exit", C::kExit},
};

}  // namespace

std::span<const DeskMenu> MainMenus() { return kMainMenus; }

std::span<const DeskMenuItem> PopupMenu() { return kPopup; }

}  // namespace velto
