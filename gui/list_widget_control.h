// A list box the models can fill: rows kept in memory (found by item value
// through their index) and mirrored into a QListWidget while it exists. The
// rows outlive the widget, so the model may go on after the window is gone.
#pragma once

#include "admin/list_control.h"

#include <QPointer>

class QListWidget;

namespace velto {

class ListWidgetControl final : public IListControl {
 public:
  // `widget` is borrowed; when it is destroyed the rows live on unseen.
  explicit ListWidgetControl(QListWidget* widget);
  ~ListWidgetControl() override;

  int RowCount() const override { return rows_.RowCount(); }
  int AddRow(std::string_view text, std::int32_t itemData) override;
  bool ReplaceRowText(int position, std::string_view text) override;
  bool RemoveRow(int position) override;
  std::string RowText(int position) const override { return rows_.RowText(position); }
  std::int32_t RowData(int position) const override { return rows_.RowData(position); }
  int FindRowByData(std::int32_t itemData) const override { return rows_.FindRowByData(itemData); }

 private:
  MemoryListControl rows_;
  QPointer<QListWidget> widget_;
};

}  // namespace velto
