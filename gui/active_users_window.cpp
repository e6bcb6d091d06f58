#include "gui/active_users_window.h"

#include "gui/app_resources.h"

#include <QCloseEvent>
#include <QListWidget>
#include <QVBoxLayout>

namespace velto {

FActiveUsers::FActiveUsers(CServerFacade& facade, OpenActivity openActivity, QWidget* parent)
    : QWidget(parent, Qt::Window), openActivity_(std::move(openActivity)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Active Users"));
  setWindowIcon(AppIcon());
  list_ = new QListWidget(this);
  list_->setToolTip(tr("Double Click To View User's Activity"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  resize(260, 300);
  connect(list_, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { OpenRow(list_->row(item)); });
  rows_ = std::make_unique<ListWidgetControl>(list_);
  model_ = std::make_unique<ActiveUsers>(facade, *rows_);
}

FActiveUsers::~FActiveUsers() = default;

void FActiveUsers::OpenRow(int row) {
  if (!model_ || !openActivity_) return;
  if (const auto key = model_->SessionAt(row)) openActivity_(*key);
}

void FActiveUsers::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  // The widget goes on the next turn of the loop; the menus must see the
  // window closed now.
  if (event->isAccepted()) model_.reset();
}

}  // namespace velto
