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
      mController(controller) {
  setWindowIcon(AppIcon());
  for (const DeskMenu& menu : MainMenus()) {
    QMenu* shown =
        menuBar()->addMenu(QString::fromUtf8(menu.caption.data(), static_cast<qsizetype>(menu.caption.size())));
    FillDeskMenu(*shown, menu.items, mController, [this](DeskCommand command) { Run(command); });
    mMenus.append(shown);
  }

  auto* central = new QWidget(this);
  mList = new QListWidget(central);
  mList->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // A row is 63 characters of fixed columns.
  mList->setMinimumWidth(mList->fontMetrics().horizontalAdvance(QString(66, QLatin1Char('M'))));
  mLogo = new QToolButton(central);
  mLogo->setIcon(QIcon(LogoPixmap(56)));
  mLogo->setIconSize(LogoPixmap(56).size());
  mLogo->setAutoRaise(true);
  mLogo->setToolTip(QString::fromLatin1(DeskController::kLogoTip));
  mLogo->setCursor(Qt::PointingHandCursor);
  mClose = new QPushButton(tr("&Close"), central);
  auto* layout = new QGridLayout(central);
  layout->addWidget(mList, 0, 0, 3, 1);
  layout->addWidget(mLogo, 0, 1, Qt::AlignTop | Qt::AlignHCenter);
  layout->setRowStretch(1, 1);
  layout->addWidget(mClose, 2, 1, Qt::AlignBottom);
  setCentralWidget(central);
  resize(sizeHint().width(), 300);

  connect(mLogo, &QToolButton::clicked, this, [this] { mController.OpenLogoAddress(); });
  connect(mClose, &QPushButton::clicked, this, &QWidget::showMinimized);
}

FMainView::~FMainView() = default;

void FMainView::Run(DeskCommand command) {
  if (command != DeskCommand::kCloseConnection) {
    mController.Run(command);
    return;
  }
  mController.CloseConnection(mList->selectedItems().isEmpty() ? -1 : mList->currentRow());
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
