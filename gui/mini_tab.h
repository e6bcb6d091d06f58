// The tab strip: a row of captioned tabs with the active one drawn raised.
// It keeps no pages; its host shows the page of the tab it reports.
#pragma once

#include "admin/mini_tab_model.h"

#include <QWidget>

namespace velto {

class MiniTab final : public QWidget {
  Q_OBJECT

 public:
  explicit MiniTab(QWidget* parent = nullptr);
  ~MiniTab() override;

  QString Caption(int index) const;
  void SetCaption(int index, const QString& caption);
  int TabCount() const { return model_.TabCount(); }
  void SetTabCount(int count);
  int ActiveTab() const { return model_.ActiveTab(); }
  void SetActiveTab(int index);
  const MiniTabModel& Model() const { return model_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The user picked another tab, or the active tab was set in code.
  void afterTabChange(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Changed();

  MiniTabModel model_;
};

}  // namespace velto
