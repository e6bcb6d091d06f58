#include "gui/activity_window.h"

#include "gui/app_resources.h"
#include "gui/text.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace velto {

FActivity::FActivity(const QString& caption, std::function<void()> closed, QWidget* parent)
    : QWidget(parent, Qt::Window), mClosed(std::move(closed)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(caption);
  setWindowIcon(AppIcon());
  mText = new QPlainTextEdit(this);
  mText->setReadOnly(true);
  mText->setLineWrapMode(QPlainTextEdit::NoWrap);
  mText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(mText);
  resize(520, 320);
}

FActivity::~FActivity() = default;

void FActivity::ShowText(const std::string& text) {
  // Entries end in CR LF as the client sent them; the pane breaks at LF.
  QString shown = ToQt(text);
  shown.remove(QLatin1Char('\r'));
  mText->setPlainText(shown);
}

void FActivity::Raise() {
  showNormal();
  raise();
  activateWindow();
}

QString FActivity::Text() const { return mText->toPlainText(); }

void FActivity::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (!event->isAccepted() || !mClosed) return;
  // Told once: the window is deleted soon after.
  auto closed = std::move(mClosed);
  mClosed = nullptr;
  closed();
}

}  // namespace velto
