// The Diagnostics window: the host's name and first address, the connection
// counter and the activity log pane (newest line on top), which starts with
// the socket layer's facts. "Close" in its menu hides it and keeps the log;
// closing it from the title bar throws the log away, and the next showing
// starts afresh with the facts read again.
#pragma once

#include "admin/diagnostics_model.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string_view>

class QAction;
class QLabel;
class QPlainTextEdit;

namespace velto {

class FDiagnostics final : public QWidget {
  Q_OBJECT

 public:
  // Reads the socket layer's facts; called at every fresh start of the log.
  using FactsSource = std::function<SocketFacts()>;
  // The clients' control connections open now.
  using ConnectionCount = std::function<std::size_t()>;

  static constexpr int kWidth = 640;
  static constexpr int kExpandedHeight = 480;

  FDiagnostics(FactsSource facts, DiagnosticsModel::FeedSwitch viewRealTime, ConnectionCount connections = {},
               DiagnosticsModel::Stamper stamp = {}, QWidget* parent = nullptr);
  ~FDiagnostics() override;

  // The writers of the log pane and the counter (see DiagnosticsModel).
  void ActivityFeed(std::string_view text);
  void AddToLog(std::string_view text);
  // The session table changed: the counter reads the count again.
  void ConnectionsChanged();

  const DiagnosticsModel& Model() const { return *model_; }
  bool LogWindowShown() const { return model_->LogWindowShown(); }

  QAction* CloseAction() { return close_; }
  QAction* ShowLogAction() { return showLog_; }
  QPlainTextEdit* LogPane() { return log_; }
  QString ComputerNameText() const;
  QString IPAddressText() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Load();
  void ShowLog();
  void ShowAddedLine(std::size_t sizeBefore, std::string_view line);
  void ShowCounter();
  void ToggleLogWindow();
  void ApplyLogWindowShown();

  FactsSource facts_;
  DiagnosticsModel::FeedSwitch viewRealTime_;
  ConnectionCount connections_;
  DiagnosticsModel::Stamper stamp_;
  std::unique_ptr<DiagnosticsModel> model_;

  QAction* close_ = nullptr;
  QAction* showLog_ = nullptr;
  QLabel* computerName_ = nullptr;
  QLabel* iPAddress_ = nullptr;
  QLabel* numOfConnections_ = nullptr;
  QWidget* logArea_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
};

}  // namespace velto
