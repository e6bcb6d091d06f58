// Builds a QMenu from a table of admin/desk_menus.h. Each time the menu
// opens, its check marks and enabled states are read from the controller.
#pragma once

#include "server/desk_controller.h"

#include <functional>
#include <span>

class QAction;
class QMenu;

namespace velto {

// `run` gets the command of a chosen item.
void FillDeskMenu(QMenu& menu, std::span<const DeskMenuItem> items, const DeskController& controller,
                  std::function<void(DeskCommand)> run);

// The item of a menu that runs `command` (null when it has none).
QAction* FindDeskAction(const QMenu& menu, DeskCommand command);

}  // namespace velto
