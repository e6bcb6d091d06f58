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

  QListWidget* ConnectionList() { return list_; }
  // The menu bar's menus, in order.
  const QList<QMenu*>& Menus() const { return menus_; }
  QPushButton* CloseButton() { return close_; }
  QToolButton* Logo() { return logo_; }

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Run(DeskCommand command);

  DeskController& controller_;
  QList<QMenu*> menus_;
  QListWidget* list_ = nullptr;
  QToolButton* logo_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace velto
