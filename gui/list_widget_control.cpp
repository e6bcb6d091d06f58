#include "gui/list_widget_control.h"

#include "gui/text.h"

#include <QListWidget>

#include <memory>

namespace velto {

ListWidgetControl::ListWidgetControl(QListWidget* widget) : mWidget(widget) {
  if (mWidget) mWidget->clear();
}

ListWidgetControl::~ListWidgetControl() = default;

int ListWidgetControl::AddRow(std::string_view text, std::int32_t itemData) {
  if (mWidget) {
    auto* item = new QListWidgetItem(ToQt(text), mWidget);  // the widget owns its items
    item->setData(Qt::UserRole, itemData);
  }
  return mRows.AddRow(text, itemData);
}

bool ListWidgetControl::ReplaceRowText(int position, std::string_view text) {
  if (!mRows.ReplaceRowText(position, text)) return false;
  if (mWidget) mWidget->item(position)->setText(ToQt(text));
  return true;
}

bool ListWidgetControl::RemoveRow(int position) {
  if (!mRows.RemoveRow(position)) return false;
  if (mWidget) std::unique_ptr<QListWidgetItem>(mWidget->takeItem(position));
  return true;
}

bool ListWidgetControl::RemoveRowByData(std::int32_t itemData) {
  const int position = mRows.FindRowByData(itemData);
  return position >= 0 && RemoveRow(position);
}

bool ListWidgetControl::ReplaceRowTextByData(std::int32_t itemData, std::string_view text) {
  const int position = mRows.FindRowByData(itemData);
  return position >= 0 && ReplaceRowText(position, text);
}

}  // namespace velto
