#include "gui/list_widget_control.h"

#include "gui/text.h"

#include <QListWidget>

#include <memory>

namespace velto {

ListWidgetControl::ListWidgetControl(QListWidget* widget) : widget_(widget) {
  if (widget_) widget_->clear();
}

ListWidgetControl::~ListWidgetControl() = default;

int ListWidgetControl::AddRow(std::string_view text, std::int32_t itemData) {
  if (widget_) {
    auto* item = new QListWidgetItem(ToQt(text), widget_);  // the widget owns its items
    item->setData(Qt::UserRole, itemData);
  }
  return rows_.AddRow(text, itemData);
}

bool ListWidgetControl::ReplaceRowText(int position, std::string_view text) {
  if (!rows_.ReplaceRowText(position, text)) return false;
  if (widget_) widget_->item(position)->setText(ToQt(text));
  return true;
}

bool ListWidgetControl::RemoveRow(int position) {
  if (!rows_.RemoveRow(position)) return false;
  if (widget_) std::unique_ptr<QListWidgetItem>(widget_->takeItem(position));
  return true;
}

}  // namespace velto
