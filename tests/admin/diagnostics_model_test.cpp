#include "admin/activity_model.h"
#include "admin/diagnostics_model.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

std::string FixedStamp(std::string_view text) { return "STAMP " + std::string(text); }

TEST(DiagnosticsModel, LoadPutsTheStatusLineFirst) {
  DiagnosticsModel model([] { return false; }, FixedStamp);
  EXPECT_EQ(model.IPAddress(), "0.0.0.0");
  SocketFacts facts;
  facts.computerName = "host";
  facts.firstAddress = "10.0.0.2";
  facts.description = "Sockets 1.1";
  facts.maxSockets = "32767";
  facts.maxUdpDg = "65467";
  facts.systemStatus = "Running";
  model.Load(facts);

  EXPECT_EQ(model.ComputerName(), "host");
  EXPECT_EQ(model.IPAddress(), "10.0.0.2");
  EXPECT_EQ(model.LogText(),
            "STAMP Current status: Running\r\n"
            "STAMP Max. Datagram size: 65467\r\n"
            "STAMP Maximum Number of Sockets: 32767\r\n"
            "STAMP Using Socket version Sockets 1.1\r\n");
}

TEST(DiagnosticsModel, LoadSkipsWhatTheSocketLayerCouldNotDeliver) {
  DiagnosticsModel model([] { return false; }, FixedStamp);
  SocketFacts facts;
  facts.maxSockets = "10";
  model.Load(facts);
  EXPECT_EQ(model.ComputerName(), "");
  EXPECT_EQ(model.IPAddress(), "0.0.0.0");
  EXPECT_EQ(model.LogText(), "STAMP Maximum Number of Sockets: 10\r\n");
}

TEST(DiagnosticsModel, DefaultStampIsTheLogTimeStamp) {
  DiagnosticsModel model({});
  SocketFacts facts;
  facts.systemStatus = "Running";
  model.Load(facts);
  const std::string& text = model.LogText();
  ASSERT_EQ(text.size(), std::string("MM-DD-YYYY HH:MM:SS AM Current status: Running\r\n").size());
  EXPECT_EQ(text.substr(23), "Current status: Running\r\n");
}

TEST(DiagnosticsModel, FeedFollowsTheSwitch) {
  bool viewRealTime = false;
  DiagnosticsModel model([&] { return viewRealTime; }, FixedStamp);
  model.ActivityFeed("ignored");
  EXPECT_EQ(model.LogText(), "");

  viewRealTime = true;
  model.ActivityFeed("one");
  model.ActivityFeed("two");
  EXPECT_EQ(model.LogText(), "two\r\none\r\n");
}

TEST(DiagnosticsModel, EmptySwitchCountsAsOff) {
  DiagnosticsModel model({});
  model.ActivityFeed("x");
  EXPECT_EQ(model.LogText(), "");
}

TEST(DiagnosticsModel, PaneUsesTheInsertRule) {
  DiagnosticsModel model([] { return true; }, FixedStamp);
  // 9990 characters in the pane: 998 lines of 8 + CR LF = 9980, plus one of 8 + CR LF.
  for (int i = 0; i < 999; ++i) model.ActivityFeed("12345678");
  ASSERT_EQ(model.LogText().size(), 9990u);
  model.ActivityFeed("01234567890123456789");
  EXPECT_EQ(model.LogText(), "01234567890123456789\r\n");
}

TEST(DiagnosticsModel, LogWindowToggleReturnsToCollapsed) {
  DiagnosticsModel model({});
  EXPECT_FALSE(model.LogWindowShown());
  model.ToggleLogWindow();
  EXPECT_TRUE(model.LogWindowShown());
  model.ToggleLogWindow();
  EXPECT_FALSE(model.LogWindowShown());
}

// The activity window's pane: entries as given (their own line ends), newest
// first, emptied once it has grown past the limit.
TEST(ActivityModel, NewestOnTopAndEmptiedPastTheLimit) {
  EXPECT_EQ(ActivityModel::Caption("bob", "10.0.0.5"), "Activity - bob [10.0.0.5]");
  ActivityModel model(FixedStamp);
  model.Update("A\r\n");
  model.Update("B\r\n");
  EXPECT_EQ(model.Text(), "STAMP B\r\nSTAMP A\r\n");
  model.Update("\x1b[2JC\b\r\n");
  EXPECT_EQ(model.Text().substr(0, 20), "STAMP \\x1b[2JC\\x08\r\n") << "escaped, line ends kept";

  model.Clear();
  model.Update(std::string(10000 - 6, 'x'));
  model.Update("C\r\n");
  EXPECT_EQ(model.Text().size(), 10000u + 9) << "10000 characters are kept";
  model.Update("D\r\n");
  EXPECT_EQ(model.Text(), "STAMP D\r\n") << "more are dropped at once";
}

}  // namespace
}  // namespace velto
