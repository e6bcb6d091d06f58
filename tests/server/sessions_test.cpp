#include "ftp/ftp_sessions.h"
#include "server/globals.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using velto::CFTPSessions;

class SessionsTest : public ::testing::Test {
 protected:
  platform::EventLoop loop;
  velto::MGlobal globals{loop};
  CFTPSessions sessions{globals, loop};
};

TEST_F(SessionsTest, SweepPeriodFollowsTimeout) {
  sessions.Timeout = 0;
  sessions.pAddFTPSession("5", "/tmp");
  EXPECT_EQ(sessions.SweepPeriod(), 0u);
  sessions.Timeout = 5000;
  sessions.pAddFTPSession("6", "/tmp");
  EXPECT_EQ(sessions.SweepPeriod(), 5000u);
  // Armed once: a later change takes effect only after the timer stops.
  sessions.Timeout = 120000;
  sessions.pAddFTPSession("7", "/tmp");
  EXPECT_EQ(sessions.SweepPeriod(), 5000u);
  sessions.Timeout = 0;
  sessions.pAddFTPSession("8", "/tmp");
  EXPECT_EQ(sessions.SweepPeriod(), 0u);
  sessions.Timeout = 120000;
  sessions.pAddFTPSession("9", "/tmp");
  EXPECT_EQ(sessions.SweepPeriod(), 60000u);
}

TEST_F(SessionsTest, KeysLookupsAndDuplicates) {
  sessions.pAddFTPSession("10", "/tmp");
  sessions.pAddFTPSession("11", "/tmp");
  EXPECT_THROW(sessions.pAddFTPSession("10", "/tmp"), std::invalid_argument);
  EXPECT_TRUE(sessions.pExists("11"));
  EXPECT_FALSE(sessions.pExists("12"));
  EXPECT_THROW(sessions.ItemByKey("12"), std::out_of_range);
  sessions.ItemByKey("11").SetSocketHandleData(42);
  EXPECT_TRUE(sessions.pExistsBySocketHandleData("42"));
  EXPECT_FALSE(sessions.pExistsBySocketHandleData("x"));
  EXPECT_EQ(sessions.ItemBySocketHandleData(42), &sessions.ItemByKey("11"));
  EXPECT_EQ(sessions.ItemBySocketHandleData(43), nullptr);
  sessions.ItemByKey("11").SetSocketHandleData(0);
  EXPECT_FALSE(sessions.pExistsBySocketHandleData("42"));
  EXPECT_EQ(sessions.ItemByIndex(1).SocketHandle(), "10");
  EXPECT_EQ(sessions.ItemByKey("10").StartSession(),
            "220 Brightmoor Technologies' Velto FTP Server. (Version 2.0.101).\r\n");
}

TEST_F(SessionsTest, UserCountIgnoresCaseAndSessionsNotLoggedOn) {
  sessions.pAddFTPSession("20", "/tmp");
  sessions.pAddFTPSession("21", "/tmp");
  sessions.pAddFTPSession("22", "/tmp");
  sessions.ItemByKey("20").UserID = "alice";
  sessions.ItemByKey("20").SetLoggedOn(true);
  sessions.ItemByKey("21").UserID = "ALICE";
  sessions.ItemByKey("21").SetLoggedOn(true);
  sessions.ItemByKey("22").UserID = "alice";  // only sent USER
  EXPECT_EQ(sessions.pnGetUserCount("Alice"), 2);
  EXPECT_EQ(sessions.pnGetUserCount("bob"), 0);
  // Logging off and leaving the table both count down.
  sessions.ItemByKey("20").SetLoggedOn(false);
  EXPECT_EQ(sessions.pnGetUserCount("alice"), 1);
  sessions.pDeleteByKey("21");
  EXPECT_EQ(sessions.pnGetUserCount("alice"), 0);
}

TEST_F(SessionsTest, ClosingSessionsLeaveTheUserCount) {
  sessions.pAddFTPSession("40", "/tmp");
  sessions.pAddFTPSession("41", "/tmp");
  sessions.pMarkClosing("40");
  sessions.pMarkClosing("40");
  sessions.pMarkClosing("99");
  EXPECT_EQ(sessions.Count(), 2);
  EXPECT_EQ(sessions.OpenCount(), 1);
  sessions.pDeleteByKey("40");
  EXPECT_EQ(sessions.OpenCount(), 1);
  EXPECT_EQ(sessions.ClosingCount(), 0);
}

TEST_F(SessionsTest, RemovedSessionStaysValidUntilTheEventIsHandled) {
  sessions.pAddFTPSession("30", "/tmp");
  velto::CFTPSession& session = sessions.ItemByKey("30");
  sessions.pDeleteByKey("30");
  EXPECT_FALSE(sessions.pExists("30"));
  EXPECT_EQ(sessions.Count(), 0);
  session.UserID = "still here";  // no use after free (ASan)
  loop.ProcessReady();
  EXPECT_THROW(sessions.pDeleteByKey("30"), std::out_of_range);
}

}  // namespace
