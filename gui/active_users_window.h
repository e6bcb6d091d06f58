// The Active Users window: one row per session, kept up while it is open; a
// double-click opens that session's activity window. It belongs to its
// parent window and is deleted once closed; the program counts it closed at
// once.
#pragma once

#include "gui/list_widget_control.h"
#include "server/active_users.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QListWidget;

namespace velto {

class FActiveUsers final : public QWidget {
  Q_OBJECT

 public:
  using OpenActivity = std::function<void(const std::string& key)>;

  FActiveUsers(CServerFacade& facade, OpenActivity openActivity, QWidget* parent);
  ~FActiveUsers() override;

  QListWidget* List() { return list_; }
  // What a double-click on a row does.
  void OpenRow(int row);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  OpenActivity openActivity_;
  QListWidget* list_ = nullptr;
  std::unique_ptr<ListWidgetControl> rows_;
  std::unique_ptr<ActiveUsers> model_;
};

}  // namespace velto
