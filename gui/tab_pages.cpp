#include "gui/tab_pages.h"

#include "gui/mini_tab.h"

#include <QFrame>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace velto {

TabPages::TabPages(QWidget* parent) : QWidget(parent) {
  mTabs = new MiniTab(this);
  mTabs->SetTabCount(0);
  auto* frame = new QFrame(this);
  frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
  mPages = new QStackedLayout(frame);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(mTabs);
  layout->addWidget(frame, 1);
  connect(mTabs, &MiniTab::afterTabChange, this, [this](int index) {
    if (index >= 0 && index < mPages->count()) mPages->setCurrentIndex(index);
  });
}

TabPages::~TabPages() = default;

int TabPages::AddPage(const QString& caption, QWidget* page) {
  const int index = mPages->addWidget(page);
  mTabs->SetCaption(index, caption);
  mTabs->SetTabCount(index + 1);
  return index;
}

int TabPages::CurrentPage() const { return mPages->currentIndex(); }

}  // namespace velto
