#include "gui/activity_window.h"

#include "gui/app_resources.h"
#include "gui/text.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace velto {

FActivity::FActivity(const QString& caption, std::function<void()> closed, QWidget* parent)
    : QWidget(parent, Qt::Window), closed_(std::move(closed)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(caption);
  setWindowIcon(AppIcon());
  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text_);
  resize(520, 320);
}

FActivity::~FActivity() = default;

void FActivity::ShowText(const std::string& text) {
  // Entries end in CR LF as the client sent them; the pane breaks at LF.
  QString shown = ToQt(text);
  shown.remove(QLatin1Char('\r'));
  text_->setPlainText(shown);
}

void FActivity::Raise() {
  showNormal();
  raise();
  activateWindow();
}

QString FActivity::Text() const { return text_->toPlainText(); }

void FActivity::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (!event->isAccepted() || !closed_) return;
  // Told once: the window is deleted soon after.
  auto closed = std::move(closed_);
  closed_ = nullptr;
  closed();
}

}  // namespace velto
