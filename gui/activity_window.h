// A session's activity window: what the client sends, newest entry on top.
// It belongs to its parent window and is deleted once closed; closing it
// (the person or the session's end) tells whoever watches through `closed`.
#pragma once

#include "server/activity_windows.h"

#include <QWidget>

#include <functional>

class QPlainTextEdit;

namespace velto {

class FActivity final : public QWidget, public IActivityView {
  Q_OBJECT

 public:
  FActivity(const QString& caption, std::function<void()> closed, QWidget* parent);
  ~FActivity() override;

  void ShowText(const std::string& text) override;
  void Raise() override;
  void CloseView() override { close(); }

  QString Text() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::function<void()> closed_;
  QPlainTextEdit* text_ = nullptr;
};

}  // namespace velto
