#include "admin/list_control.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(MemoryListControl, RowsKeepTextAndItemData) {
  MemoryListControl list;
  EXPECT_EQ(list.AddRow("a", 7), 0);
  EXPECT_EQ(list.AddRow("b", 40000), 1);
  EXPECT_EQ(list.AddRow("c", 7), 2);
  EXPECT_EQ(list.RowCount(), 3);
  EXPECT_EQ(list.RowText(1), "b");
  EXPECT_EQ(list.RowData(1), 40000);

  EXPECT_EQ(list.FindRowByData(7), 0) << "the first row with the value wins";
  EXPECT_EQ(list.FindRowByData(40000), 1);
  EXPECT_EQ(list.FindRowByData(8), -1);

  EXPECT_TRUE(list.ReplaceRowText(1, "B"));
  EXPECT_EQ(list.RowText(1), "B");
  EXPECT_EQ(list.RowData(1), 40000);

  EXPECT_TRUE(list.RemoveRow(0));
  EXPECT_EQ(list.RowText(0), "B");
  EXPECT_EQ(list.FindRowByData(7), 1);
}

TEST(MemoryListControl, OutOfRangePositionsAreRefused) {
  MemoryListControl list;
  list.AddRow("only", 1);
  EXPECT_FALSE(list.ReplaceRowText(1, "x"));
  EXPECT_FALSE(list.ReplaceRowText(-1, "x"));
  EXPECT_FALSE(list.RemoveRow(1));
  EXPECT_FALSE(list.RemoveRow(-1));
  EXPECT_EQ(list.RowText(5), "");
  EXPECT_EQ(list.RowData(-2), 0);
  EXPECT_EQ(list.RowCount(), 1);
}

}  // namespace
}  // namespace velto
