#include "admin/mini_tab_model.h"
#include "admin/splash_model.h"
#include "admin/tray_service.h"

#include <gtest/gtest.h>

#include <vector>

namespace velto {
namespace {

// Six pixels a character: "Tab0" is 24 wide, so each default tab is 39.
int FixedWidth(std::string_view text) { return static_cast<int>(text.size()) * 6; }

struct TabStrip {
  MiniTabModel model{FixedWidth};
  std::vector<int> changes;
  TabStrip() {
    model.OnAfterTabChange([this](int tab) { changes.push_back(tab); });
  }
};

TEST(MiniTab, NewStripShowsFourDefaultTabsWithTheFirstActive) {
  TabStrip strip;
  EXPECT_EQ(strip.model.TabCount(), 4);
  EXPECT_EQ(strip.model.ActiveTab(), 0);
  EXPECT_EQ(strip.model.Caption(3), "Tab3");
  EXPECT_EQ(strip.model.TabRect(1).left, 2 + 39);
  EXPECT_EQ(strip.model.TabRect(4).width, 0) << "only TabCount tabs are drawn";
}

TEST(MiniTab, SettingACaptionChangesOnlyItsField) {
  TabStrip strip;
  strip.model.SetCaption(1, "Receive");
  EXPECT_EQ(strip.model.CaptionText(), "Tab0|Receive|Tab2|Tab3|Tab4|Tab5|Tab6|Tab7|Tab8|Tab9|");
  EXPECT_EQ(strip.model.TabRect(2).left, 2 + 39 + 7 * 6 + 15) << "the row is laid out again";
}

TEST(MiniTab, FewerTabsThanTheActiveOneActivatesTheFirstSilently) {
  TabStrip strip;
  strip.model.SetActiveTab(3);
  strip.changes.clear();
  strip.model.SetTabCount(2);
  EXPECT_EQ(strip.model.ActiveTab(), 0);
  EXPECT_TRUE(strip.changes.empty());
  strip.model.SetTabCount(20);
  EXPECT_EQ(strip.model.TabCount(), MiniTabModel::kMaxTabs);
}

TEST(MiniTab, PressesPickTheTabUnderTheMouse) {
  TabStrip strip;  // tabs at 2, 41, 80, 119; the row ends at 158
  EXPECT_FALSE(strip.model.Press(2)) << "left of the first tab";
  EXPECT_FALSE(strip.model.Press(159)) << "right of the last tab";
  EXPECT_FALSE(strip.model.Press(20)) << "the active tab again";
  EXPECT_TRUE(strip.changes.empty());

  EXPECT_TRUE(strip.model.Press(81));
  EXPECT_TRUE(strip.model.Press(158));
  EXPECT_TRUE(strip.model.Press(41)) << "a tab's left edge belongs to the tab before it";
  EXPECT_EQ(strip.changes, (std::vector<int>{2, 3, 0}));

  strip.model.SetActiveTab(0);
  EXPECT_EQ(strip.changes.back(), 0) << "setting the tab in code always notifies";
}

class FakeShell final : public ITrayShell {
 public:
  bool available = true;
  bool shown = false;
  std::vector<std::string> tips;
  bool AddIcon(const std::string& tip) override {
    tips.push_back(tip);
    shown = available;
    return available;
  }
  bool ModifyIcon(const std::string& tip) override {
    tips.push_back(tip);
    return true;
  }
  bool DeleteIcon() override {
    shown = false;
    return true;
  }
};

TEST(TrayService, StartFailsWithoutATrayAndSucceedsOnceOneExists) {
  FakeShell shell;
  std::string title(70, 'x');
  TrayService tray(shell, [&] { return title; });

  shell.available = false;
  EXPECT_FALSE(tray.StartTrayService());
  EXPECT_FALSE(tray.Started());

  shell.available = true;
  EXPECT_TRUE(tray.StartTrayService());
  EXPECT_TRUE(tray.Started());
  EXPECT_FALSE(tray.StartTrayService()) << "already started";
  EXPECT_EQ(shell.tips.back(), std::string(63, 'x'));

  title = "Velto - [host]";
  tray.TitleChanged();
  EXPECT_EQ(shell.tips.back(), "Velto - [host]");

  EXPECT_FALSE(tray.StopTrayService()) << "the icon is gone";
  EXPECT_FALSE(tray.Started());
  EXPECT_FALSE(shell.shown);
  EXPECT_TRUE(tray.StartTrayService()) << "a stopped icon can be added again";
}

TEST(TrayService, MouseMessagesReachTheWindowOneAtATime) {
  FakeShell shell;
  TrayService tray(shell, {});
  std::vector<int> seen;
  tray.OnMouse([&](int message) {
    seen.push_back(message);
    tray.MouseMessage(kTrayLeftDown);  // arrives while the popup menu is open
  });
  tray.MouseMessage(512);
  tray.MouseMessage(kTrayRightUp);
  tray.MouseMessage(519);
  EXPECT_EQ(seen, std::vector<int>{kTrayRightUp});

  EXPECT_EQ(ReactionTo(kTrayLeftDown), TrayReaction::kShowMainWindow);
  EXPECT_EQ(ReactionTo(kTrayRightUp), TrayReaction::kPopupMenu);
  EXPECT_EQ(ReactionTo(kTrayRightDown), TrayReaction::kNone);
}

TEST(Splash, ClosesWhenTheSecondOfTimerAndReadinessArrives) {
  int closes = 0;
  SplashModel quickStart([&] { ++closes; });
  quickStart.AppIsReady();  // start-up took one second
  quickStart.AppIsReady();
  EXPECT_FALSE(quickStart.Closed()) << "readiness told twice is still one condition";
  quickStart.TimerTick();  // three seconds
  EXPECT_TRUE(quickStart.Closed());

  SplashModel slowStart([&] { ++closes; });
  slowStart.TimerTick();
  EXPECT_FALSE(slowStart.Closed());
  slowStart.AppIsReady();  // five seconds
  slowStart.AppIsReady();
  EXPECT_EQ(closes, 2);
}

}  // namespace
}  // namespace velto
