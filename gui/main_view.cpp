#include "gui/main_view.h"

#include "gui/app_resources.h"
#include "gui/desk_menu.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>

namespace velto {

FMainView::FMainView(DeskController& controller, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint),
      controller_(controller) {
  setWindowIcon(AppIcon());
  for (const DeskMenu& menu : MainMenus()) {
    QMenu* shown =
        menuBar()->addMenu(QString::fromUtf8(menu.caption.data(), static_cast<qsizetype>(menu.caption.size())));
    FillDeskMenu(*shown, menu.items, controller_, [this](DeskCommand command) { Run(command); });
    menus_.append(shown);
  }

  auto* central = new QWidget(this);
  list_ = new QListWidget(central);
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // A row is 63 characters of fixed columns.
  list_->setMinimumWidth(list_->fontMetrics().horizontalAdvance(QString(66, QLatin1Char('M'))));
  logo_ = new QToolButton(central);
  const QPixmap logo = LogoPixmap(56);
  logo_->setIcon(QIcon(logo));
  logo_->setIconSize(logo.size());
  logo_->setAutoRaise(true);
  logo_->setToolTip(QString::fromLatin1(DeskController::kLogoTip));
  logo_->setCursor(Qt::PointingHandCursor);
  // Alt+C is the Connections menu's.
  close_ = new QPushButton(tr("C&lose"), central);
  auto* layout = new QGridLayout(central);
  layout->addWidget(list_, 0, 0, 3, 1);
  layout->addWidget(logo_, 0, 1, Qt::AlignTop | Qt::AlignHCenter);
  layout->setRowStretch(1, 1);
  layout->addWidget(close_, 2, 1, Qt::AlignBottom);
  setCentralWidget(central);
  resize(sizeHint().width(), 300);

  connect(logo_, &QToolButton::clicked, this, [this] { controller_.OpenLogoAddress(); });
  connect(close_, &QPushButton::clicked, this, &QWidget::showMinimized);
}

FMainView::~FMainView() = default;

void FMainView::Run(DeskCommand command) {
  if (command != DeskCommand::kCloseConnection) {
    controller_.Run(command);
    return;
  }
  controller_.CloseConnection(list_->selectedItems().isEmpty() ? -1 : list_->currentRow());
}

void FMainView::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Minimised, the window leaves the task bar; the tray icon brings it back.
  // Hidden on the next turn, once the state change is through.
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (isMinimized()) hide();
        },
        Qt::QueuedConnection);
  }
}

void FMainView::closeEvent(QCloseEvent* event) {
  // Only Exit ends the program; a close from the frame minimises.
  event->ignore();
  showMinimized();
}

}  // namespace velto
