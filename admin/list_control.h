// The rows of a list box as the models see them: a text and a 32-bit item
// value per row, positions counted from 0. The window's list widget
// implements it; MemoryListControl serves the headless server and the tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <list>
#include <unordered_map>
#include <vector>

namespace velto {

class IListControl {
 public:
  virtual ~IListControl() = default;

  virtual int RowCount() const = 0;
  // Appends a row; returns its position.
  virtual int AddRow(std::string_view text, std::int32_t itemData) = 0;
  // Out-of-range positions are ignored (false) / read as "" and 0.
  virtual bool ReplaceRowText(int position, std::string_view text) = 0;
  virtual bool RemoveRow(int position) = 0;
  virtual std::string RowText(int position) const = 0;
  virtual std::int32_t RowData(int position) const = 0;

  // Position of the first row whose item value equals `itemData`, or -1.
  virtual int FindRowByData(std::int32_t itemData) const;
  // The first row with that item value; false when there is none. A
  // control that can find rows by value faster says so here.
  virtual bool RemoveRowByData(std::int32_t itemData);
  virtual bool ReplaceRowTextByData(std::int32_t itemData, std::string_view text);
};

class MemoryListControl final : public IListControl {
 public:
  struct Row {
    std::string text;
    std::int32_t itemData = 0;
  };

  int RowCount() const override;
  int AddRow(std::string_view text, std::int32_t itemData) override;
  bool ReplaceRowText(int position, std::string_view text) override;
  bool RemoveRow(int position) override;
  std::string RowText(int position) const override;
  std::int32_t RowData(int position) const override;
  int FindRowByData(std::int32_t itemData) const override;
  bool RemoveRowByData(std::int32_t itemData) override;
  bool ReplaceRowTextByData(std::int32_t itemData, std::string_view text) override;

 private:
  // Rows come and go with connections, thousands on a busy server: found
  // and removed by item value in constant time.
  using Rows = std::list<Row>;
  bool Valid(int position) const;
  Rows::const_iterator At(int position) const;
  void Erase(Rows::const_iterator row);

  Rows rows_;
  std::unordered_map<std::int32_t, std::vector<Rows::iterator>> byData_;
};

}  // namespace velto
