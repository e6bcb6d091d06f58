#include "gui/diagnostics_window.h"

#include "gui/app_resources.h"
#include "gui/text.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextCursor>
#include <QVBoxLayout>

namespace velto {

FDiagnostics::FDiagnostics(FactsSource facts, DiagnosticsModel::FeedSwitch viewRealTime,
                           DiagnosticsModel::Stamper stamp, QWidget* parent)
    : QWidget(parent, Qt::Window),
      mFacts(std::move(facts)),
      mViewRealTime(std::move(viewRealTime)),
      mStamp(std::move(stamp)) {
  setWindowTitle(tr("Diagnostics"));
  setWindowIcon(AppIcon());

  auto* menus = new QMenuBar(this);
  QMenu* file = menus->addMenu(tr("&File"));
  mClose = file->addAction(tr("&Close"));
  QMenu* options = menus->addMenu(tr("&Options"));
  mShowLog = options->addAction(tr("Show &Log Window"));
  mShowLog->setCheckable(true);
  connect(mClose, &QAction::triggered, this, &QWidget::hide);
  connect(mShowLog, &QAction::triggered, this, &FDiagnostics::ToggleLogWindow);

  auto* info = new QGroupBox(tr("Connection Information"), this);
  mComputerName = new QLabel(info);
  mComputerName->setToolTip(tr("Computer Name"));
  mIPAddress = new QLabel(info);
  mIPAddress->setToolTip(tr("IP Address"));
  mNumOfConnections = new QLabel(info);
  mNumOfConnections->setToolTip(tr("Number of current connections"));
  auto* fields = new QFormLayout(info);
  fields->addRow(tr("Computer Name:"), mComputerName);
  fields->addRow(tr("IP Address:"), mIPAddress);
  fields->addRow(tr("# Of Connections:"), mNumOfConnections);

  mLogArea = new QWidget(this);
  mLog = new QPlainTextEdit(mLogArea);
  mLog->setReadOnly(true);
  mLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  mLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  mLog->setToolTip(tr("Activity Log"));
  auto* statusBar = new QLabel(mLogArea);
  statusBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  statusBar->setMinimumHeight(statusBar->fontMetrics().height() + 4);
  auto* logLayout = new QVBoxLayout(mLogArea);
  logLayout->setContentsMargins(0, 0, 0, 0);
  logLayout->addWidget(mLog, 1);
  logLayout->addWidget(statusBar);

  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menus);
  layout->addWidget(info);
  layout->addWidget(mLogArea, 1);

  Load();
  ApplyLogWindowShown();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

FDiagnostics::~FDiagnostics() = default;

void FDiagnostics::ActivityFeed(std::string_view text) {
  const std::size_t before = mModel->LogText().size();
  mModel->ActivityFeed(text);
  ShowAddedLine(before, text);
}

void FDiagnostics::AddToLog(std::string_view text) {
  const std::size_t before = mModel->LogText().size();
  mModel->AddToLog(text);
  ShowAddedLine(before, text);
}

void FDiagnostics::ConnectionOpened() {
  mModel->ConnectionOpened();
  ShowCounter();
}

void FDiagnostics::ConnectionClosed() {
  mModel->ConnectionClosed();
  ShowCounter();
}

QString FDiagnostics::ComputerNameText() const { return mComputerName->text(); }

QString FDiagnostics::IPAddressText() const { return mIPAddress->text(); }

void FDiagnostics::closeEvent(QCloseEvent* event) {
  // The title bar's close ends this instance of the window: the next
  // showing starts with a fresh log, collapsed.
  QWidget::closeEvent(event);
  if (!event->isAccepted()) return;
  Load();
  ApplyLogWindowShown();
}

void FDiagnostics::Load() {
  mModel = std::make_unique<DiagnosticsModel>(mViewRealTime, mStamp);
  if (mFacts) mModel->Load(mFacts());
  mComputerName->setText(ToQt(mModel->ComputerName()));
  mIPAddress->setText(ToQt(mModel->IPAddress()));
  ShowCounter();
  ShowLog();
}

void FDiagnostics::ShowLog() {
  // The pane breaks lines at LF; the model's lines end in CR LF.
  QString text = ToQt(mModel->LogText());
  text.remove(QLatin1Char('\r'));
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  mLog->setPlainText(text);
}

void FDiagnostics::ShowAddedLine(std::size_t sizeBefore, std::string_view line) {
  const std::size_t after = mModel->LogText().size();
  if (after == sizeBefore) return;  // the feed is off
  if (sizeBefore == 0 || after != sizeBefore + line.size() + 2) {
    ShowLog();  // the pane was emptied first
    return;
  }
  // A busy feed writes many lines: put just the new one on top.
  QString text = ToQt(line);
  text.remove(QLatin1Char('\r'));
  QTextCursor top(mLog->document());
  top.movePosition(QTextCursor::Start);
  top.insertText(text + QLatin1Char('\n'));
}

void FDiagnostics::ShowCounter() { mNumOfConnections->setText(ToQt(mModel->NumOfConnectionsText())); }

void FDiagnostics::ToggleLogWindow() {
  mModel->ToggleLogWindow();
  ApplyLogWindowShown();
}

void FDiagnostics::ApplyLogWindowShown() {
  const bool shown = mModel->LogWindowShown();
  mShowLog->setChecked(shown);
  mLogArea->setVisible(shown);
  if (shown) {
    resize(kWidth, kExpandedHeight);
    return;
  }
  // Collapsed: just the connection facts under the menu.
  layout()->activate();
  resize(kWidth, minimumSizeHint().height());
}

}  // namespace velto
