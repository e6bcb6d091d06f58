#include "gui/desk_menu.h"

#include <QAction>
#include <QMenu>
#include <QString>

namespace velto {

void FillDeskMenu(QMenu& menu, std::span<const DeskMenuItem> items, const DeskController& controller,
                  std::function<void(DeskCommand)> run) {
  for (const DeskMenuItem& item : items) {
    if (item.command == DeskCommand::kSeparator) {
      menu.addSeparator();
      continue;
    }
    QAction* action =
        menu.addAction(QString::fromUtf8(item.caption.data(), static_cast<qsizetype>(item.caption.size())));
    action->setData(static_cast<int>(item.command));
    action->setCheckable(item.checkable);
    QObject::connect(action, &QAction::triggered, &menu, [run, command = item.command] { run(command); });
  }
  // Check marks show the program's state, whatever a click did to them.
  QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&menu, &controller] {
    for (QAction* action : menu.actions()) {
      if (action->isSeparator()) continue;
      const auto command = static_cast<DeskCommand>(action->data().toInt());
      action->setChecked(controller.Checked(command));
      action->setEnabled(controller.Enabled(command));
    }
  });
}

QAction* FindDeskAction(const QMenu& menu, DeskCommand command) {
  for (QAction* action : menu.actions()) {
    if (!action->isSeparator() && action->data().toInt() == static_cast<int>(command)) return action;
  }
  return nullptr;
}

}  // namespace velto
