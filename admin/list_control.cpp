#include "admin/list_control.h"

#include <algorithm>
#include <iterator>

namespace velto {

int IListControl::FindRowByData(std::int32_t itemData) const {
  const int count = RowCount();
  for (int i = 0; i < count; ++i) {
    if (RowData(i) == itemData) return i;
  }
  return -1;
}

bool IListControl::RemoveRowByData(std::int32_t itemData) {
  const int row = FindRowByData(itemData);
  return row >= 0 && RemoveRow(row);
}

bool IListControl::ReplaceRowTextByData(std::int32_t itemData, std::string_view text) {
  const int row = FindRowByData(itemData);
  return row >= 0 && ReplaceRowText(row, text);
}

int MemoryListControl::RowCount() const { return static_cast<int>(rows_.size()); }

int MemoryListControl::AddRow(std::string_view text, std::int32_t itemData) {
  rows_.push_back(Row{std::string(text), itemData});
  byData_[itemData].push_back(std::prev(rows_.end()));
  return RowCount() - 1;
}

bool MemoryListControl::Valid(int position) const { return position >= 0 && position < RowCount(); }

MemoryListControl::Rows::const_iterator MemoryListControl::At(int position) const {
  return std::next(rows_.begin(), position);
}

bool MemoryListControl::ReplaceRowText(int position, std::string_view text) {
  if (!Valid(position)) return false;
  const_cast<Row&>(*At(position)).text = std::string(text);
  return true;
}

void MemoryListControl::Erase(Rows::const_iterator row) {
  auto found = byData_.find(row->itemData);
  if (found != byData_.end()) {
    auto& rows = found->second;
    rows.erase(std::find(rows.begin(), rows.end(), row));
    if (rows.empty()) byData_.erase(found);
  }
  rows_.erase(row);
}

bool MemoryListControl::RemoveRow(int position) {
  if (!Valid(position)) return false;
  Erase(At(position));
  return true;
}

std::string MemoryListControl::RowText(int position) const { return Valid(position) ? At(position)->text : std::string(); }

std::int32_t MemoryListControl::RowData(int position) const { return Valid(position) ? At(position)->itemData : 0; }

int MemoryListControl::FindRowByData(std::int32_t itemData) const {
  const auto found = byData_.find(itemData);
  if (found == byData_.end()) return -1;
  return static_cast<int>(std::distance(rows_.begin(), Rows::const_iterator(found->second.front())));
}

bool MemoryListControl::RemoveRowByData(std::int32_t itemData) {
  const auto found = byData_.find(itemData);
  if (found == byData_.end()) return false;
  Erase(found->second.front());
  return true;
}

bool MemoryListControl::ReplaceRowTextByData(std::int32_t itemData, std::string_view text) {
  const auto found = byData_.find(itemData);
  if (found == byData_.end()) return false;
  found->second.front()->text = std::string(text);
  return true;
}

}  // namespace velto
