#include "admin/list_control.h"

namespace velto {

int IListControl::FindRowByData(std::int32_t itemData) const {
  const int count = RowCount();
  for (int i = 0; i < count; ++i) {
    if (RowData(i) == itemData) return i;
  }
  return -1;
}

int MemoryListControl::RowCount() const { return static_cast<int>(mRows.size()); }

int MemoryListControl::AddRow(std::string_view text, std::int32_t itemData) {
  mRows.push_back(Row{std::string(text), itemData});
  return RowCount() - 1;
}

bool MemoryListControl::Valid(int position) const {
  return position >= 0 && position < RowCount();
}

bool MemoryListControl::ReplaceRowText(int position, std::string_view text) {
  if (!Valid(position)) return false;
  mRows[static_cast<std::size_t>(position)].text = std::string(text);
  return true;
}

bool MemoryListControl::RemoveRow(int position) {
  if (!Valid(position)) return false;
  mRows.erase(mRows.begin() + position);
  return true;
}

std::string MemoryListControl::RowText(int position) const {
  return Valid(position) ? mRows[static_cast<std::size_t>(position)].text : std::string();
}

std::int32_t MemoryListControl::RowData(int position) const {
  return Valid(position) ? mRows[static_cast<std::size_t>(position)].itemData : 0;
}

}  // namespace velto

namespace velto {

int MemoryListControl::FindRowByData(std::int32_t itemData) const {
  for (std::size_t i = 0; i < mRows.size(); ++i) {
    if (mRows[i].itemData == itemData) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace velto
