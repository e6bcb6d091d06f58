#include "ftp/ftp_sessions.h"

#include "fake_host.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using velto::CFTPSessions;

class SessionsTest : public ::testing::Test {
 protected:
  velto::CFTPSession& Add(const std::string& key, const std::string& address = "127.0.0.1") {
    return sessions.pAddFTPSession(key, std::make_unique<velto::test::FakeHost>(),
                                   velto::ConnectionInfo{address, 50000, "127.0.0.1", 21, "127.0.0.1"});
  }
  platform::EventLoop loop;
  CFTPSessions sessions{loop};
};

TEST_F(SessionsTest, SweepPeriodFollowsTimeout) {
  sessions.Timeout = 0;
  Add("5");
  EXPECT_EQ(sessions.SweepPeriod(), 0u);
  sessions.Timeout = 5000;
  Add("6");
  EXPECT_EQ(sessions.SweepPeriod(), 5000u);
  // A longer time-out is still found in time by the shorter period.
  sessions.Timeout = 120000;
  Add("7");
  EXPECT_EQ(sessions.SweepPeriod(), 5000u);
  sessions.Timeout = 0;
  Add("8");
  EXPECT_EQ(sessions.SweepPeriod(), 0u);
  sessions.Timeout = 120000;
  Add("9");
  EXPECT_EQ(sessions.SweepPeriod(), 60000u);
}

TEST_F(SessionsTest, KeysLookupsAndDuplicates) {
  Add("10");
  Add("11");
  EXPECT_THROW(Add("10"), std::invalid_argument);
  EXPECT_TRUE(sessions.pExists("11"));
  EXPECT_FALSE(sessions.pExists("12"));
  EXPECT_THROW(sessions.ItemByKey("12"), std::out_of_range);
  EXPECT_EQ(sessions.ItemByIndex(1).SocketHandle(), "10");
  EXPECT_EQ(sessions.ItemByIndex(2).SocketHandle(), "11");
  sessions.pDeleteByIndex(1);
  EXPECT_EQ(sessions.ItemByIndex(1).SocketHandle(), "11");
  EXPECT_EQ(sessions.ItemByKey("11").StartSession(),
            "220 Brightmoor Technologies' Velto FTP Server. (Version 2.0.101).\r\n");
}

TEST_F(SessionsTest, UserCountIgnoresCaseAndSessionsNotLoggedOn) {
  Add("20").UserID = "alice";
  sessions.ItemByKey("20").SetLoggedOn(true);
  Add("21").UserID = "ALICE";
  sessions.ItemByKey("21").SetLoggedOn(true);
  Add("22").UserID = "alice";  // only sent USER
  EXPECT_EQ(sessions.pnGetUserCount("Alice"), 2);
  EXPECT_EQ(sessions.pnGetUserCount("bob"), 0);
  // Logging off and leaving the table both count down.
  sessions.ItemByKey("20").SetLoggedOn(false);
  EXPECT_EQ(sessions.pnGetUserCount("alice"), 1);
  sessions.pDeleteByKey("21");
  EXPECT_EQ(sessions.pnGetUserCount("alice"), 0);
}

// A client that closed its connection gives up its place, its log-on and
// its address's share at once, though its session lingers in the table.
TEST_F(SessionsTest, ClosingSessionsCountForNothing) {
  Add("40", "10.0.0.1").UserID = "alice";
  sessions.ItemByKey("40").SetLoggedOn(true);
  Add("41", "10.0.0.1");
  EXPECT_EQ(sessions.OpenCountFrom("10.0.0.1"), 2);
  sessions.pMarkClosing("40");
  sessions.pMarkClosing("40");
  sessions.pMarkClosing("99");
  EXPECT_EQ(sessions.Count(), 2);
  EXPECT_EQ(sessions.OpenCount(), 1);
  EXPECT_EQ(sessions.pnGetUserCount("alice"), 0);
  EXPECT_EQ(sessions.OpenCountFrom("10.0.0.1"), 1);
  sessions.pDeleteByKey("40");
  EXPECT_EQ(sessions.OpenCount(), 1);
  EXPECT_EQ(sessions.ClosingCount(), 0);
  EXPECT_EQ(sessions.OpenCountFrom("10.0.0.1"), 1);
}

TEST_F(SessionsTest, RemovedSessionStaysValidUntilTheEventIsHandled) {
  velto::CFTPSession& session = Add("30");
  sessions.pDeleteByKey("30");
  EXPECT_FALSE(sessions.pExists("30"));
  EXPECT_EQ(sessions.Count(), 0);
  session.UserID = "still here";  // no use after free (ASan)
  loop.ProcessReady();
  EXPECT_THROW(sessions.pDeleteByKey("30"), std::out_of_range);
}

}  // namespace
