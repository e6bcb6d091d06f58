#include "gui/mini_tab.h"
#include "gui/settings_dialog.h"
#include "gui/tab_pages.h"

#include "gui_test_support.h"
#include "server_core.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace velto {
namespace {

using test::MessageRecorder;
using test::ProgramFolder;
using test::ServerCore;

std::string SettingsSection(const std::string& keys) { return "[Settings]\r\n" + keys; }

TEST(Settings, IntervalsGoLiveAsTypedAndWhatIsNoShortNumberIsReplaced) {
  ProgramFolder folder(SettingsSection("UseBuffersToSend=False\r\n"));
  ServerCore core(folder);
  FSettings dialog(core.facade);
  QLineEdit* send = dialog.IntervalSendBox();
  EXPECT_FALSE(send->isEnabled());
  dialog.UseBuffersToSendBox()->click();
  EXPECT_TRUE(send->isEnabled());

  send->setText("");
  EXPECT_EQ(send->text(), "50");
  send->setText("0");
  EXPECT_EQ(send->text(), "0") << "zero stays as typed";
  send->setText("40000");
  EXPECT_EQ(send->text(), "50") << "beyond 32767";
  EXPECT_EQ(core.facade.SettingText(Setting::ProcessingIntervalToSend), "50");

  send->setText("250");
  EXPECT_EQ(core.facade.SettingText(Setting::ProcessingIntervalToSend), "250") << "live before OK";
  dialog.CancelButton()->click();
  EXPECT_EQ(core.facade.SettingText(Setting::ProcessingIntervalToSend), "250") << "Cancel keeps it";
  EXPECT_EQ(core.facade.SettingText(Setting::UseBuffersToSend), "False") << "the buffer waits for OK";
}

TEST(Settings, HidingTheIconWarnsOnlyWhenTheAdministratorChecksIt) {
  ProgramFolder folder(SettingsSection("HideIcon=True\r\n"));
  ServerCore core(folder);
  MessageRecorder messages;
  FSettings dialog(core.facade);
  EXPECT_TRUE(dialog.HideIconBox()->isChecked());
  dialog.HideIconBox()->click();
  EXPECT_TRUE(messages.Messages().empty());

  dialog.HideIconBox()->click();
  ASSERT_EQ(messages.Messages().size(), 1u);
  const auto& warning = messages.Messages().front();
  EXPECT_EQ(warning.title, "Information");
  EXPECT_EQ(warning.icon, QMessageBox::Information);
  EXPECT_TRUE(warning.text.contains(QString::fromStdString("located in the " + folder.Path() + " directory")));
  EXPECT_TRUE(dialog.HideIconBox()->isChecked());
}

TEST(Settings, OkWritesTheStartUpOptionsAtOnceAndThePacketSizeAsTyped) {
  ProgramFolder folder(SettingsSection("UseBuffersToSend=True\r\n"));
  ServerCore core(folder);
  FSettings dialog(core.facade);
  dialog.PacketSizeBox()->setText("12kb");
  dialog.StartMinimizedBox()->setChecked(true);
  dialog.HideSplashScreenBox()->setChecked(true);
  dialog.UseBuffersToSendBox()->click();
  EXPECT_FALSE(dialog.IntervalSendBox()->isEnabled());
  dialog.OkButton()->click();

  const std::string ini = folder.Read("Velto.ini");
  for (const char* line : {"ChunkSize=12kb\r\n", "StartMinimized=1\r\n", "HideSplashScreen=1\r\n", "HideIcon=0\r\n"}) {
    EXPECT_NE(ini.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(core.facade.SettingText(Setting::ChunkSize), "512") << "the component keeps its size";
  EXPECT_EQ(core.facade.SettingText(Setting::UseBuffersToSend), "False") << "for connections from now on";
}

TEST(TabPages, TheActiveTabsPageTakesThePlaceOfTheOthers) {
  TabPages pages;
  auto* first = new QWidget;
  auto* second = new QWidget;
  pages.AddPage("Settings", first);
  pages.AddPage("Network", second);
  pages.show();
  EXPECT_EQ(pages.Tabs()->TabCount(), 2);
  EXPECT_TRUE(first->isVisible());

  const MiniTabModel::Rect tab = pages.Tabs()->Model().TabRect(1);
  QTest::mouseClick(pages.Tabs(), Qt::LeftButton, {}, QPoint(tab.left + tab.width / 2, MiniTabModel::kRaise + 8));
  EXPECT_EQ(pages.CurrentPage(), 1);
  EXPECT_TRUE(second->isVisible());
  EXPECT_FALSE(first->isVisible());
}

}  // namespace
}  // namespace velto
