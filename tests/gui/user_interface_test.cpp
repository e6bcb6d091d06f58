#include "gui/qt_user_interface.h"
#include "gui/splash_window.h"

#include "gui_test_support.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(QtUserInterface, MessageBoxesFollowTheStyle) {
  QtUserInterface ui("velto");

  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
  test::ModalDriver<QMessageBox> yes([&](QMessageBox* box) {
    icon = box->icon();
    title = box->windowTitle();
    EXPECT_NE(box->button(QMessageBox::No), nullptr);
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_EQ(ui.ShowAppMessage("Register it now?", kMbQuestion, "Question"), kIdYes);
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(title, "Question");

  test::ModalDriver<QMessageBox> escape([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
  EXPECT_EQ(ui.ShowAppMessage("Import users?", kMbYesNo, "Welcome"), kIdNo) << "escape answers No";

  test::ModalDriver<QMessageBox> stop([&](QMessageBox* box) {
    icon = box->icon();
    title = box->windowTitle();
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(ui.ShowAppMessage("Missing library", kMbStop, ""), kIdOk);
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(title, "velto") << "an empty title names the program";
}

TEST(QtUserInterface, MainWindowTrayAndSplash) {
  QtUserInterface ui("velto");
  ui.SetTitle("Velto - [host] [127.0.0.1]");
  ui.ShowMainWindow(true);
  EXPECT_FALSE(ui.StartTrayIcon()) << "the offscreen desktop has no tray";
  EXPECT_FALSE(ui.Tray().Started());

  QWidget window;
  ui.AttachMainWindow(&window);
  EXPECT_EQ(window.windowTitle(), "Velto - [host] [127.0.0.1]");
  EXPECT_TRUE(window.isVisible()) << "what was asked before the window existed";

  window.showMinimized();
  ui.ShowMainWindow(false);
  EXPECT_FALSE(window.isVisible());
  ui.Tray().Activate(QSystemTrayIcon::Trigger);  // left click
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());

  ui.SplashStatus("Loading Settings...");
  ASSERT_NE(ui.Splash(), nullptr);
  EXPECT_TRUE(ui.Splash()->isVisible());
  EXPECT_EQ(ui.Splash()->Version(), "Version 2.0.101");
  ui.SplashStatus("Initializing Network Services...");
  EXPECT_EQ(ui.Splash()->Status(), "Initializing Network Services...");
  ui.SplashReady();
  EXPECT_FALSE(ui.Splash()->Closed()) << "shown for less than its minimum time";
  ui.AttachMainWindow(nullptr);
}

// Runs where a tray host is up (tests/gui/screenshots.sh -t -x sets
// VELTO_TRAY_HOST); anywhere else there is no tray to take the icon.
TEST(QtUserInterface, TrayHostTakesTheIconWithTheTitleAsTip) {
  if (qEnvironmentVariableIsEmpty("VELTO_TRAY_HOST")) GTEST_SKIP() << "no tray host on this display";
  ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
  QtUserInterface ui("velto");
  const std::string title = "Velto - [a-host-with-a-rather-long-name] [192.168.100.200] [10.20.30.40] [127.0.0.1]";
  ui.SetTitle(title);
  ASSERT_TRUE(ui.StartTrayIcon());
  EXPECT_TRUE(ui.TrayIconStarted());
  EXPECT_EQ(ui.Tray().ToolTip().toStdString(), title.substr(0, 63));
  ui.StopTrayIcon();
  EXPECT_FALSE(ui.TrayIconStarted());
  EXPECT_TRUE(ui.StartTrayIcon()) << "started again after a stop";
}

}  // namespace
}  // namespace velto
