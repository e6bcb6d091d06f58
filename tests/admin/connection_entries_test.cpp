#include "admin/connection_entries.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(CConnectionEntry, FieldsArePaddedOrCutToTheirWidth) {
  CConnectionEntry entry;
  entry.SetProtocol("TCP");
  entry.SetLocalAddress("a-twenty-char-host12");  // 20 characters
  entry.SetLocalPort("21");
  entry.SetForeignAddress("0.0.0.0");
  entry.SetForeignPort("0");
  entry.SetState("Listening");
  entry.SetSocketHandle("123");

  EXPECT_EQ(entry.protocol(), "TCP    ");
  EXPECT_EQ(entry.LocalAddress(), "a-twenty-char-ho");
  EXPECT_EQ(entry.LocalPort(), "21     ");
  EXPECT_EQ(entry.ForeignAddress(), "0.0.0.0         ");
  EXPECT_EQ(entry.ForeignPort(), "0      ");
  EXPECT_EQ(entry.State(), "Listening ");
  EXPECT_EQ(entry.SocketHandle(), "123");
  EXPECT_EQ(entry.DisplayText(),
            "TCP    a-twenty-char-ho21     0.0.0.0         0      Listening ");
  EXPECT_EQ(entry.DisplayText().size(), CConnectionEntry::kRowWidth);
  EXPECT_EQ(CConnectionEntry::kRowWidth, 63u);
  EXPECT_TRUE(CConnectionEntry::IsListeningRow(entry.DisplayText()));
  entry.SetForeignAddress("2001:db8:85a3::8a2e:370:7334");
  EXPECT_EQ(entry.ForeignAddress(), "2001:db8:85a3::8a2e:370:7334 ") << "an IPv6 address is never cut";
  entry.SetForeignAddress("::1");
  EXPECT_EQ(entry.ForeignAddress(), "::1             ");
  entry.SetForeignAddress("0.0.0.0");
  entry.SetState("");
  EXPECT_FALSE(CConnectionEntry::IsListeningRow(entry.DisplayText()));
  EXPECT_FALSE(CConnectionEntry::IsListeningRow("Listening ")) << "not a row";
}

TEST(CConnectionEntry, FreshEntryIsAllBlanks) {
  CConnectionEntry entry;
  EXPECT_EQ(entry.DisplayText(), std::string(63, ' '));
  entry.SetState("Established-and-more");
  EXPECT_EQ(entry.State(), "Establishe");
}

class ConnectionEntriesTest : public ::testing::Test {
 protected:
  void Listen(std::int32_t number, std::string_view state = "Listening") {
    entries_.pAddConnectionEntry(list_, number, "21", "TCP", "127.0.0.1", "0.0.0.0", "0", state);
  }

  CConnectionEntries entries_;
  MemoryListControl list_;
};

TEST_F(ConnectionEntriesTest, AddCreatesEntryAndRowWithItemData) {
  Listen(5);
  ASSERT_EQ(entries_.Count(), 1);
  ASSERT_EQ(list_.RowCount(), 1);
  EXPECT_TRUE(entries_.pExists("5"));
  EXPECT_FALSE(entries_.pExists("6"));
  EXPECT_EQ(entries_.ItemByKey("5").SocketHandle(), "5");
  EXPECT_EQ(list_.RowData(0), 5);
  EXPECT_EQ(list_.RowText(0), entries_.ItemByIndex(1).DisplayText());
  EXPECT_EQ(list_.RowText(0), "TCP    127.0.0.1       21     0.0.0.0         0      Listening ");
}

TEST_F(ConnectionEntriesTest, OptionalValuesDefaultToEmpty) {
  entries_.pAddConnectionEntry(list_, 9, "1042");
  EXPECT_EQ(list_.RowText(0), std::string(23, ' ') + "1042   " + std::string(33, ' '));
}

TEST_F(ConnectionEntriesTest, IdenticalAddLeavesOneUnchangedRow) {
  Listen(5);
  list_.ReplaceRowText(0, "marker");  // shows whether the row is rewritten
  Listen(5);
  EXPECT_EQ(entries_.Count(), 1);
  ASSERT_EQ(list_.RowCount(), 1);
  EXPECT_EQ(list_.RowText(0), "marker");
}

TEST_F(ConnectionEntriesTest, OverlongValueRepeatedIsNotAChange) {
  const std::string longAddress = "a-twenty-char-host12";
  entries_.pAddConnectionEntry(list_, 5, "21", "TCP", longAddress);
  list_.ReplaceRowText(0, "marker");
  entries_.pAddConnectionEntry(list_, 5, "21", "TCP", longAddress);
  EXPECT_EQ(list_.RowText(0), "marker");
}

TEST_F(ConnectionEntriesTest, ChangedStateReplacesRowInPlace) {
  Listen(4);
  Listen(5);
  Listen(6);
  Listen(5, "Connected");
  ASSERT_EQ(list_.RowCount(), 3);
  EXPECT_EQ(list_.RowData(1), 5);
  EXPECT_EQ(list_.RowText(1).substr(53), "Connected ");
  EXPECT_EQ(entries_.ItemByKey("5").State(), "Connected ");
  EXPECT_EQ(list_.RowText(0).substr(53), "Listening ");
}

TEST_F(ConnectionEntriesTest, ChangeForEntryWhoseRowIsGoneAppendsTheRow) {
  Listen(4);
  Listen(5);
  list_.RemoveRow(0);
  Listen(4, "Closing");
  ASSERT_EQ(list_.RowCount(), 2);
  EXPECT_EQ(list_.RowData(1), 4);
  EXPECT_EQ(list_.RowText(1).substr(53), "Closing   ");
}

TEST_F(ConnectionEntriesTest, DeleteRemovesEntryAndRow) {
  Listen(4);
  Listen(40000);
  Listen(6);
  entries_.pDeleteByKey("40000", list_);
  EXPECT_FALSE(entries_.pExists("40000"));
  EXPECT_EQ(entries_.Count(), 2);
  ASSERT_EQ(list_.RowCount(), 2);
  EXPECT_EQ(list_.RowData(0), 4);
  EXPECT_EQ(list_.RowData(1), 6);
  EXPECT_EQ(entries_.ItemByIndex(2).SocketHandle(), "6");
}

TEST_F(ConnectionEntriesTest, DeleteOfUnknownKeyChangesNothingButAStrayRow) {
  Listen(4);
  list_.AddRow("stray", 77);
  entries_.pDeleteByKey("12", list_);
  entries_.pDeleteByKey("not a number", list_);
  EXPECT_EQ(entries_.Count(), 1);
  EXPECT_EQ(list_.RowCount(), 2);
  entries_.pDeleteByKey("77", list_);  // no entry, but its row goes
  EXPECT_EQ(entries_.Count(), 1);
  EXPECT_EQ(list_.RowCount(), 1);
}

TEST_F(ConnectionEntriesTest, LookupsOfMissingEntriesThrow) {
  Listen(4);
  EXPECT_THROW(entries_.ItemByKey("5"), UnknownEntryError);
  EXPECT_THROW(entries_.ItemByIndex(0), UnknownEntryError);
  EXPECT_THROW(entries_.ItemByIndex(2), UnknownEntryError);
  EXPECT_THROW(entries_.ItemByKey("5"), std::out_of_range);
}

TEST_F(ConnectionEntriesTest, ClearLeavesTheListAlone) {
  Listen(4);
  Listen(5);
  entries_.Clear();
  EXPECT_EQ(entries_.Count(), 0);
  EXPECT_FALSE(entries_.pExists("4"));
  EXPECT_EQ(list_.RowCount(), 2);
}

TEST_F(ConnectionEntriesTest, NegativeAndLargeNumbersAreKeysLikeAnyOther) {
  Listen(-3);
  Listen(2147483647);
  EXPECT_TRUE(entries_.pExists("-3"));
  EXPECT_TRUE(entries_.pExists("2147483647"));
  entries_.pDeleteByKey("-3", list_);
  ASSERT_EQ(list_.RowCount(), 1);
  EXPECT_EQ(list_.RowData(0), 2147483647);
}

}  // namespace
}  // namespace velto
