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

FDiagnostics::FDiagnostics(FactsSource facts, DiagnosticsModel::FeedSwitch viewRealTime, ConnectionCount connections,
                           DiagnosticsModel::Stamper stamp, QWidget* parent)
    : QWidget(parent, Qt::Window),
      facts_(std::move(facts)),
      viewRealTime_(std::move(viewRealTime)),
      connections_(std::move(connections)),
      stamp_(std::move(stamp)) {
  setWindowTitle(tr("Diagnostics"));
  setWindowIcon(AppIcon());

  auto* menus = new QMenuBar(this);
  QMenu* file = menus->addMenu(tr("&File"));
  close_ = file->addAction(tr("&Close"));
  QMenu* options = menus->addMenu(tr("&Options"));
  showLog_ = options->addAction(tr("Show &Log Window"));
  showLog_->setCheckable(true);
  connect(close_, &QAction::triggered, this, &QWidget::hide);
  connect(showLog_, &QAction::triggered, this, &FDiagnostics::ToggleLogWindow);

  auto* info = new QGroupBox(tr("Connection Information"), this);
  computerName_ = new QLabel(info);
  computerName_->setToolTip(tr("Computer Name"));
  iPAddress_ = new QLabel(info);
  iPAddress_->setToolTip(tr("IP Address"));
  numOfConnections_ = new QLabel(info);
  numOfConnections_->setToolTip(tr("Number of current connections"));
  auto* fields = new QFormLayout(info);
  fields->addRow(tr("Computer Name:"), computerName_);
  fields->addRow(tr("IP Address:"), iPAddress_);
  fields->addRow(tr("# Of Connections:"), numOfConnections_);

  logArea_ = new QWidget(this);
  log_ = new QPlainTextEdit(logArea_);
  log_->setReadOnly(true);
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  log_->setToolTip(tr("Activity Log"));
  auto* statusBar = new QLabel(logArea_);
  statusBar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  statusBar->setMinimumHeight(statusBar->fontMetrics().height() + 4);
  auto* logLayout = new QVBoxLayout(logArea_);
  logLayout->setContentsMargins(0, 0, 0, 0);
  logLayout->addWidget(log_, 1);
  logLayout->addWidget(statusBar);

  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menus);
  layout->addWidget(info);
  layout->addWidget(logArea_, 1);

  Load();
  ApplyLogWindowShown();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

FDiagnostics::~FDiagnostics() = default;

void FDiagnostics::ActivityFeed(std::string_view text) {
  const std::size_t before = model_->LogText().size();
  model_->ActivityFeed(text);
  ShowAddedLine(before, text);
}

void FDiagnostics::AddToLog(std::string_view text) {
  const std::size_t before = model_->LogText().size();
  model_->AddToLog(text);
  ShowAddedLine(before, text);
}

void FDiagnostics::ConnectionsChanged() {
  model_->SetNumOfConnections(connections_ ? connections_() : 0);
  ShowCounter();
}

QString FDiagnostics::ComputerNameText() const { return computerName_->text(); }

QString FDiagnostics::IPAddressText() const { return iPAddress_->text(); }

void FDiagnostics::closeEvent(QCloseEvent* event) {
  // The title bar's close ends this instance of the window: the next
  // showing starts with a fresh log, collapsed.
  QWidget::closeEvent(event);
  if (!event->isAccepted()) return;
  Load();
  ApplyLogWindowShown();
}

void FDiagnostics::Load() {
  model_ = std::make_unique<DiagnosticsModel>(viewRealTime_, stamp_);
  if (facts_) model_->Load(facts_());
  computerName_->setText(ToQt(model_->ComputerName()));
  iPAddress_->setText(ToQt(model_->IPAddress()));
  ConnectionsChanged();
  ShowLog();
}

void FDiagnostics::ShowLog() {
  // The pane breaks lines at LF; the model's lines end in CR LF.
  QString text = ToQt(model_->LogText());
  text.remove(QLatin1Char('\r'));
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  log_->setPlainText(text);
}

void FDiagnostics::ShowAddedLine(std::size_t sizeBefore, std::string_view line) {
  const std::size_t after = model_->LogText().size();
  if (after == sizeBefore) return;  // the feed is off
  if (sizeBefore == 0 || after != sizeBefore + line.size() + 2) {
    ShowLog();  // the pane was emptied first
    return;
  }
  // A busy feed writes many lines: put just the new one on top.
  QString text = ToQt(line);
  text.remove(QLatin1Char('\r'));
  QTextCursor top(log_->document());
  top.movePosition(QTextCursor::Start);
  top.insertText(text + QLatin1Char('\n'));
}

void FDiagnostics::ShowCounter() { numOfConnections_->setText(ToQt(model_->NumOfConnectionsText())); }

void FDiagnostics::ToggleLogWindow() {
  model_->ToggleLogWindow();
  ApplyLogWindowShown();
}

void FDiagnostics::ApplyLogWindowShown() {
  const bool shown = model_->LogWindowShown();
  showLog_->setChecked(shown);
  logArea_->setVisible(shown);
  if (shown) {
    resize(kWidth, kExpandedHeight);
    return;
  }
  // Collapsed: just the connection facts under the menu.
  layout()->activate();
  resize(kWidth, minimumSizeHint().height());
}

}  // namespace velto
