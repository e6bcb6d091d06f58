#include "log/log_lines.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

using namespace std::string_literals;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(LogTime, TwelveHourClockWithPaddedFields) {
  EXPECT_EQ(FormatLogTime(At(2001, 3, 7, 21, 5, 2)), "03-07-2001 09:05:02 PM");
  EXPECT_EQ(FormatLogTime(At(2001, 3, 7, 9, 5, 2)), "03-07-2001 09:05:02 AM");
  EXPECT_EQ(FormatLogTime(At(2024, 12, 31, 23, 59, 59)), "12-31-2024 11:59:59 PM");
  EXPECT_EQ(FormatLogTime(At(987, 1, 1, 1, 0, 0)), "01-01-0987 01:00:00 AM");
}

TEST(LogTime, MidnightAndNoonShowTwelve) {
  EXPECT_EQ(FormatLogTime(At(2001, 3, 7, 0, 0, 0)), "03-07-2001 12:00:00 AM");
  EXPECT_EQ(FormatLogTime(At(2001, 3, 7, 12, 0, 0)), "03-07-2001 12:00:00 PM");
  EXPECT_EQ(FormatLogTime(At(2001, 3, 7, 12, 59, 59)), "03-07-2001 12:59:59 PM");
}

TEST(LogTime, TimeStampTextPutsStampBlankText) {
  EXPECT_EQ(TimeStampText("Connection accepted", At(2001, 3, 7, 21, 5, 2)),
            "03-07-2001 09:05:02 PM Connection accepted");
  EXPECT_EQ(TimeStampText("", At(2001, 3, 7, 21, 5, 2)), "03-07-2001 09:05:02 PM ");
}

TEST(LogTime, NowHasTheShapeOfAStamp) {
  const std::string line = TimeStampText("x");
  ASSERT_EQ(line.size(), std::string("MM-DD-YYYY HH:MM:SS AM x").size());
  EXPECT_EQ(line[2], '-');
  EXPECT_EQ(line[13], ':');
  EXPECT_TRUE(line.substr(20, 4) == "AM x" || line.substr(20, 4) == "PM x") << line;
}

TEST(AccessLogLine, WritesPortsBesideTheirAddresses) {
  EXPECT_EQ(AccessLogLine("guest", "RETR a.txt\r\n", "192.168.0.5", "192.168.0.9", "21", "1042",
                          At(2001, 3, 7, 21, 5, 2)),
            "03-07-2001 09:05:02 PM,guest,RETR a.txt,192.168.0.5,21,192.168.0.9,1042");
}

TEST(AccessLogLine, CommasAreNotEscaped) {
  EXPECT_EQ(AccessLogLine("a,b", "STOR x,y", "1", "2", "3", "4", At(2001, 1, 2, 3, 4, 5)),
            "01-02-2001 03:04:05 AM,a,b,STOR x,y,1,3,2,4");
}

TEST(AccessLogLine, EveryLineBreakIsRemoved) {
  const std::string line =
      AccessLogLine("us\ner", "CWD a\r\nCWD b\nCWD c\r", "1", "2", "3", "4", At(2001, 1, 2, 3, 4, 5));
  EXPECT_EQ(line, "01-02-2001 03:04:05 AM,user,CWD aCWD bCWD c,1,3,2,4");
}

// What a client sends must not drive the terminal that shows the log, nor
// backspace over its own text to forge a masked PASS line.
TEST(AccessLogLine, ControlCharactersAreEscapedPrintableTextKept) {
  EXPECT_EQ(AccessLogLine("u\x1b[2J", "NOOP x\b\b\b\b\b\bPASS ****\x1f\\x08\x7f\r\n", "1", "2", "3", "4",
                          At(2001, 1, 2, 3, 4, 5)),
            "01-02-2001 03:04:05 AM,u\\x1b[2J,NOOP x\\x08\\x08\\x08\\x08\\x08\\x08PASS ****\\x1f\\\\x08\\x7f,1,3,2,4");
  // UTF-8 stays; C1 controls, invalid bytes and a cut sequence do not.
  EXPECT_EQ(EscapeControls("CWD caf\xc3\xa9/\xe2\x82\xac \xc2\x9b" "1m \xe9 \xed\xa0\x80 \xf0\x9f\x98"),
            "CWD caf\xc3\xa9/\xe2\x82\xac \\xc2\\x9b1m \\xe9 \\xed\\xa0\\x80 \\xf0\\x9f\\x98");
  EXPECT_EQ(EscapeControls("a\tb\r\nc\0"s, LineBreaks::kKeep), "a\\x09b\r\nc\\x00");
  EXPECT_EQ(ErrorLogLine("2", "cannot open /x/\x1b]0;t\x07", "", At(2001, 1, 2, 3, 4, 5)),
            "01-02-2001 03:04:05 AM cannot open /x/\\x1b]0;t\\x07 - Error #2");
}

TEST(AccessLogLine, PasswordsNeverReachTheLog) {
  const auto line = [](std::string_view command) {
    return AccessLogLine("u", command, "s", "c", "21", "5000", At(2001, 1, 2, 3, 4, 5));
  };
  EXPECT_EQ(line("PASS s3cret\r\n"), "01-02-2001 03:04:05 AM,u,PASS ****,s,21,c,5000");
  EXPECT_EQ(line("pass s3cret"), "01-02-2001 03:04:05 AM,u,pass ****,s,21,c,5000");
  EXPECT_EQ(line("  Pass  a b c\r\n"), "01-02-2001 03:04:05 AM,u,  Pass ****,s,21,c,5000");
  EXPECT_EQ(line("PASS\r\n"), "01-02-2001 03:04:05 AM,u,PASS,s,21,c,5000");
  EXPECT_EQ(line("USER bob\r\nPASS hidden\r\nNOOP\r\n"),
            "01-02-2001 03:04:05 AM,u,USER bobPASS ****NOOP,s,21,c,5000");
  // Only the verb PASS counts.
  EXPECT_EQ(line("PASSX y"), "01-02-2001 03:04:05 AM,u,PASSX y,s,21,c,5000");
  EXPECT_EQ(line("RETR PASS x"), "01-02-2001 03:04:05 AM,u,RETR PASS x,s,21,c,5000");
}

TEST(ErrorLogLine, WithAndWithoutContext) {
  EXPECT_EQ(ErrorLogLine("91", "Object variable not set", "ActivateFTP", At(2001, 3, 7, 21, 5, 2)),
            "03-07-2001 09:05:02 PM Object variable not set - Error #91 (ActivateFTP)");
  EXPECT_EQ(ErrorLogLine("10048", "Address already in use", "", At(2001, 3, 7, 21, 5, 2)),
            "03-07-2001 09:05:02 PM Address already in use - Error #10048");
}

TEST(ErrorLogLine, DescriptionWithLineBreaksStaysOneLine) {
  const std::string line = ErrorLogLine("5", "first\r\nsecond\nthird", "ctx", At(2001, 3, 7, 21, 5, 2));
  EXPECT_EQ(line, "03-07-2001 09:05:02 PM firstsecondthird - Error #5 (ctx)");
}

}  // namespace
}  // namespace velto
