// The main window: the connection list, the logo, the Close button and the
// menus. Its frame has neither a working close box nor a maximise box;
// minimised it hides, leaving the tray icon as the way back.
#pragma once

#include "server/desk_controller.h"

#include <QMainWindow>

class QListWidget;
class QMenu;
class QPushButton;
class QToolButton;

namespace velto {

class FMainView final : public QMainWindow {
  Q_OBJECT

 public:
  // `controller` is borrowed and must outlive the window.
  explicit FMainView(DeskController& controller, QWidget* parent = nullptr);
  ~FMainView() override;

  QListWidget* ConnectionList() { return mList; }
  // The menu bar's menus, in order.
  const QList<QMenu*>& Menus() const { return mMenus; }
  QPushButton* CloseButton() { return mClose; }
  QToolButton* Logo() { return mLogo; }

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Run(DeskCommand command);

  DeskController& mController;
  QList<QMenu*> mMenus;
  QListWidget* mList = nullptr;
  QToolButton* mLogo = nullptr;
  QPushButton* mClose = nullptr;
};

}  // namespace velto
