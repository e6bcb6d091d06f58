#include "gui/active_users_window.h"

#include "gui/app_resources.h"

#include <QCloseEvent>
#include <QListWidget>
#include <QVBoxLayout>

namespace velto {

FActiveUsers::FActiveUsers(CServerFacade& facade, OpenActivity openActivity, QWidget* parent)
    : QWidget(parent, Qt::Window), mOpenActivity(std::move(openActivity)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Active Users"));
  setWindowIcon(AppIcon());
  mList = new QListWidget(this);
  mList->setToolTip(tr("Double Click To View User's Activity"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mList);
  resize(260, 300);
  connect(mList, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { OpenRow(mList->row(item)); });
  mRows = std::make_unique<ListWidgetControl>(mList);
  mModel = std::make_unique<ActiveUsers>(facade, *mRows);
}

FActiveUsers::~FActiveUsers() = default;

void FActiveUsers::OpenRow(int row) {
  if (!mModel || !mOpenActivity) return;
  if (const auto key = mModel->SessionAt(row)) mOpenActivity(*key);
}

void FActiveUsers::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  // The widget goes on the next turn of the loop; the menus must see the
  // window closed now.
  if (event->isAccepted()) mModel.reset();
}

}  // namespace velto
