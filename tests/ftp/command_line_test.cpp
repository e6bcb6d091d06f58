#include "ftp/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using velto::ControlLineFramer;
using velto::ParseCommand;

TEST(ParseCommand, VerbIsFirstFourCharactersUpperCased) {
  EXPECT_EQ(ParseCommand("noop\r\n").verb, "NOOP");
  EXPECT_EQ(ParseCommand("NOOPXYZ\r\n").verb, "NOOP");
  EXPECT_EQ(ParseCommand("pwd\r\n").verb, "PWD");
  EXPECT_EQ(ParseCommand("CWD pub\r\n").verb, "CWD");
  // "CD x" takes four characters: C, D, blank and X, which match no verb.
  EXPECT_EQ(ParseCommand("CD xyz\r\n").verb, "CD X");
  EXPECT_EQ(ParseCommand("CD\r\n").verb, "CD");
  EXPECT_EQ(ParseCommand("\r\n").verb, "");
}

TEST(ParseCommand, ArgumentRules) {
  EXPECT_EQ(ParseCommand("USER Alice\r\n").argument, "Alice");
  EXPECT_EQ(ParseCommand("RETR  two  spaces \r\n").argument, "two  spaces ");
  // A blank right before the line end stays part of the argument.
  EXPECT_EQ(ParseCommand("STOR name \r\n").argument, "name ");
  EXPECT_EQ(ParseCommand("STOR name\r\n").argument, "name");
  EXPECT_EQ(ParseCommand("PASS\r\n").argument, "");
  EXPECT_EQ(ParseCommand("PASS \r\n").argument, "");
  EXPECT_EQ(ParseCommand(std::string("RETR a\0b\r\n", 10)).argument, "ab");
}

TEST(ControlLineFramer, SplitAndJoinedCommands) {
  ControlLineFramer framer;
  EXPECT_TRUE(framer.Feed("US").empty());
  auto lines = framer.Feed("ER alice\r\nPASS secret\r\nNO");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "USER alice\r\n");
  EXPECT_EQ(lines[1].text, "PASS secret\r\n");
  lines = framer.Feed("OP\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "NOOP\n");
  EXPECT_EQ(framer.Pending(), 0u);
}

TEST(ControlLineFramer, TelnetSequencesAreStripped) {
  ControlLineFramer framer;
  // IAC IP, IAC DM before ABOR; IAC WILL x; a sub-negotiation; IAC IAC is 0xFF.
  const std::string bytes = std::string("\xFF\xF4\xFF\xF2" "ABOR\r\n") + "\xFF\xFB\x01" "NO" +
                            "\xFF\xFA\x18\x01\xFF\xF0" "OP\r\n" + "RETR a\xFF\xFF" "b\r\n";
  // Split inside every sequence to prove the state carries over.
  std::vector<ControlLineFramer::Line> lines;
  for (char c : bytes) {
    for (auto& l : framer.Feed(std::string(1, c))) lines.push_back(l);
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "ABOR\r\n");
  EXPECT_EQ(lines[1].text, "NOOP\r\n");
  EXPECT_EQ(lines[2].text, "RETR a\xFF" "b\r\n");
}

TEST(ControlLineFramer, OverLongLineIsAnsweredOnceAndDropped) {
  ControlLineFramer framer;
  const std::string huge(ControlLineFramer::kMaxLine + 10, 'x');
  auto lines = framer.Feed(huge);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].tooLong);
  // Memory stays bounded however long the line goes on.
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(framer.Feed(huge).empty());
  EXPECT_LE(framer.Pending(), ControlLineFramer::kMaxLine);
  lines = framer.Feed("tail\r\nNOOP\r\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "NOOP\r\n");
  EXPECT_FALSE(lines[0].tooLong);
}

}  // namespace
