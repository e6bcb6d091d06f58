#include "gui/tab_pages.h"

#include "gui/mini_tab.h"

#include <QFrame>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace velto {

TabPages::TabPages(QWidget* parent) : QWidget(parent) {
  tabs_ = new MiniTab(this);
  tabs_->SetTabCount(0);
  auto* frame = new QFrame(this);
  frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
  pages_ = new QStackedLayout(frame);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(tabs_);
  layout->addWidget(frame, 1);
  connect(tabs_, &MiniTab::afterTabChange, this, [this](int index) {
    if (index >= 0 && index < pages_->count()) pages_->setCurrentIndex(index);
  });
}

TabPages::~TabPages() = default;

int TabPages::AddPage(const QString& caption, QWidget* page) {
  const int index = pages_->addWidget(page);
  tabs_->SetCaption(index, caption);
  tabs_->SetTabCount(index + 1);
  return index;
}

int TabPages::CurrentPage() const { return pages_->currentIndex(); }

}  // namespace velto
