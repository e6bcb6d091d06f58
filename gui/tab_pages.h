// Pages under the tab strip: the page of the tab that becomes active takes
// the place of the others, which are hidden.
#pragma once

#include <QWidget>

class QStackedLayout;

namespace velto {

class MiniTab;

class TabPages final : public QWidget {
  Q_OBJECT

 public:
  explicit TabPages(QWidget* parent = nullptr);
  ~TabPages() override;

  // Adds `page` (reparented to this widget) under a new tab; returns its
  // index.
  int AddPage(const QString& caption, QWidget* page);
  int CurrentPage() const;
  MiniTab* Tabs() const { return tabs_; }

 private:
  MiniTab* tabs_ = nullptr;
  QStackedLayout* pages_ = nullptr;
};

}  // namespace velto
