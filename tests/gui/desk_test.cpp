// The administrator's windows over the real server on loopback, driven
// through Qt's loop: the main window and its menus, the tray's popup, the
// connection list, Diagnostics, Active Users and the activity windows.
#include "gui/active_users_window.h"
#include "gui/activity_window.h"
#include "gui/desk.h"
#include "gui/desk_menu.h"
#include "gui/diagnostics_window.h"
#include "gui/loop_bridge.h"
#include "gui/main_view.h"
#include "gui/qt_user_interface.h"
#include "gui_test_support.h"
#include "tests/server/server_fixture.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>

namespace velto {
namespace {

using test::Client;
using test::ListeningFolder;
using test::LiveServer;

// What the program builds once the server has loaded (gui/desktop.cpp).
struct Running {
  ListeningFolder folder;
  QtUserInterface ui{"velto"};
  LiveServer server{folder, ui};
  CServerFacade facade{server.g, server.main};
  LoopBridge bridge{server.g.loop};
  Desk desk{facade, ui, {}};

  Running() {
    ui.AttachMainWindow(&desk.MainView());
    ui.SetTrayMenu(&desk.Popup());
    ui.ShowMainWindow(true);
  }
  ~Running() {
    ui.SetTrayMenu(nullptr);
    ui.AttachMainWindow(nullptr);
  }

  void Run(QMenu& menu, DeskCommand command) {
    emit menu.aboutToShow();
    FindDeskAction(menu, command)->trigger();
  }
  void Run(DeskCommand command) {
    for (QMenu* menu : desk.MainView().Menus()) {
      if (FindDeskAction(*menu, command)) return Run(*menu, command);
    }
    FAIL() << "no menu item";
  }
  void LogOn(Client& client) {
    client.Send("USER bob\r\nPASS secret\r\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return client.Has("230 "); }, 10000)) << client.Received();
  }
};

// The items of a menu as its captions ("-" for a separator) and check marks
// ("*" after a checked one), as the menu shows them when it opens.
QStringList Items(QMenu& menu) {
  emit menu.aboutToShow();
  QStringList items;
  for (QAction* action : menu.actions()) {
    items << (action->isSeparator() ? QStringLiteral("-") : action->text() + (action->isChecked() ? "*" : ""));
  }
  return items;
}

TEST(Desk, MainWindowFrameMenusAndTray) {
  Running r;
  FMainView& main = r.desk.MainView();
  EXPECT_TRUE(main.windowTitle().startsWith("Velto - ["));
  EXPECT_TRUE(main.isVisible());
  EXPECT_FALSE(main.windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint));

  QStringList menus;
  for (QMenu* menu : main.Menus()) menus << menu->title();
  EXPECT_EQ(menus, QStringList({"&File", "&Options", "&Services", "&Connections", "&Help"}));
  QMenu& options = *main.Menus()[1];
  EXPECT_EQ(Items(options), QStringList({"&Diagnostics...", "&FTP Options", "Import &NT Users...", "&View Real Time",
                                         "View &Active Users", "-", "&Settings"}));
  r.desk.ShowDiagnostics(true);
  r.Run(DeskCommand::kViewActiveUsers);
  EXPECT_EQ(Items(options).filter("*"), QStringList({"&Diagnostics...*", "View &Active Users*"}))
      << "the check marks follow the windows when the menu opens";
  EXPECT_EQ(Items(*main.Menus()[2]), QStringList({"Activate &FTP*"}));
  // Each Alt key of the window belongs to one menu or button.
  QStringList keys;
  for (QMenu* menu : main.Menus()) keys << QKeySequence::mnemonic(menu->title()).toString();
  for (QAbstractButton* button : main.findChildren<QAbstractButton*>()) {
    if (!button->text().isEmpty()) keys << QKeySequence::mnemonic(button->text()).toString();
  }
  EXPECT_EQ(keys.size(), 6);
  EXPECT_EQ(keys.removeDuplicates(), 0) << keys.join(' ').toStdString();

  // Right click on the tray icon: the popup, its check marks copied.
  QStringList popup;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      popup = Items(*open);
      open->close();
    }
  });
  watch.start(5);
  QTimer::singleShot(5000, [] {
    if (QWidget* open = QApplication::activePopupWidget()) open->close();
  });
  r.ui.Tray().Activate(QSystemTrayIcon::Context);
  watch.stop();
  EXPECT_EQ(popup, QStringList({"About", "-", "Activate FTP*", "-", "Diagnostics...*", "FTP Options", "View Real Time",
                                "View Active Users*", "-", "Settings", "-", "Exit"}));

  // The frame's close and File/Close minimise, which hides; a left click on
  // the tray icon brings the window back.
  main.close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !main.isVisible(); }, 5000));
  r.ui.Tray().Activate(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(main.isVisible());
  EXPECT_FALSE(main.isMinimized());
  r.Run(DeskCommand::kMinimize);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !main.isVisible(); }, 5000));
  EXPECT_FALSE(r.ui.TrayIconStarted()) << "the offscreen desktop has no tray";
}

TEST(Desk, ServiceWithoutATrayKeepsTrying) {
  ListeningFolder folder;
  QtUserInterface ui("velto");
  LiveServer service(folder, ui, true);
  EXPECT_FALSE(ui.TrayIconStarted());
  EXPECT_TRUE(service.main.TrayRetryArmed());
}

TEST(Desk, ConnectionRowsFollowClientsAndCloseCutsOne) {
  Running r;
  QListWidget& list = *r.desk.MainView().ConnectionList();
  ASSERT_EQ(list.count(), 1);
  EXPECT_TRUE(list.item(0)->text().contains("Listening"));
  Client client(r.folder.Port());
  ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 2; }, 10000));
  EXPECT_TRUE(list.item(1)->text().contains(QString("127.0.0.1       %1").arg(client.LocalPort())))
      << list.item(1)->text().toStdString();

  QString said;
  test::ModalDriver<QMessageBox> ok([&](QMessageBox* box) {
    said = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  r.Run(DeskCommand::kCloseConnection);
  EXPECT_EQ(said, "Choose an active connection to close.");

  list.setCurrentRow(1);
  r.Run(DeskCommand::kCloseConnection);
  EXPECT_TRUE(QTest::qWaitFor([&] { return list.count() == 1 && client.Ended(); }, 10000));
}

TEST(Desk, DiagnosticsShowsTheFeedLiveAndExitSavesTheSettings) {
  Running r;
  r.Run(DeskCommand::kDiagnostics);
  FDiagnostics* diagnostics = r.desk.Diagnostics();
  ASSERT_NE(diagnostics, nullptr);
  EXPECT_TRUE(diagnostics->isVisible());
  EXPECT_EQ(diagnostics->ComputerNameText().toStdString(), platform::LocalHostName());
  EXPECT_TRUE(diagnostics->LogPane()->toPlainText().contains("Current status: "));

  // The counter counts clients, feed on or off; a passive listener and its
  // data connection are not clients.
  QListWidget& list = *r.desk.MainView().ConnectionList();
  Client client(r.folder.Port());
  EXPECT_TRUE(QTest::qWaitFor([&] { return diagnostics->Model().NumOfConnections() == 1; }, 10000));
  r.Run(r.desk.Popup(), DeskCommand::kViewRealTime);
  r.LogOn(client);
  EXPECT_TRUE(QTest::qWaitFor([&] { return diagnostics->LogPane()->toPlainText().contains("Received "); }, 10000));
  client.Send("PASV\r\n");
  ASSERT_TRUE(QTest::qWaitFor([&] { return client.Has("227 "); }, 10000));
  const std::string reply = client.Received().substr(client.Received().find("227 "));
  int a = 0, b = 0, c = 0, d = 0, high = 0, low = 0;
  ASSERT_EQ(std::sscanf(reply.c_str(), "227 %*[^(](%d,%d,%d,%d,%d,%d)", &a, &b, &c, &d, &high, &low), 6) << reply;
  {
    Client data(high * 256 + low);
    client.Send("LIST\r\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return client.Has("226 ") && data.Ended() && list.count() == 2; }, 10000));
  }
  EXPECT_EQ(diagnostics->Model().NumOfConnections(), 1);
  client.Close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return list.count() == 1; }, 10000));
  EXPECT_EQ(diagnostics->Model().NumOfConnections(), 0);

  bool exited = false;
  r.facade.SetExitHandler([&] { exited = true; });
  r.Run(r.desk.Popup(), DeskCommand::kExit);
  ASSERT_TRUE(exited);
  r.server.main.Unload();
  EXPECT_NE(r.folder.Read("Velto.ini").find("ViewRealTime=True"), std::string::npos);
}

TEST(Desk, ActiveUsersOpenActivityWindowsThatFollowTheirSession) {
  Running r;
  Client bob(r.folder.Port());
  r.LogOn(bob);
  r.Run(DeskCommand::kViewActiveUsers);
  QPointer<FActiveUsers> users = r.desk.ActiveUsersWindow();
  ASSERT_TRUE(users);
  EXPECT_EQ(users->windowTitle(), "Active Users");
  ASSERT_EQ(users->List()->count(), 1);
  EXPECT_EQ(users->List()->item(0)->text(), "bob");
  Client other(r.folder.Port());
  r.LogOn(other);
  EXPECT_TRUE(QTest::qWaitFor([&] { return users->List()->count() == 2; }, 5000)) << "a log-on while open";

  auto activity = [&]() -> QPointer<FActivity> {
    const auto windows = r.desk.MainView().findChildren<FActivity*>();
    return windows.isEmpty() ? nullptr : windows.first();
  };
  users->OpenRow(0);
  QPointer<FActivity> window = activity();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->windowTitle(), "Activity - bob [127.0.0.1]");
  bob.Send("SYST\r\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->Text().contains(" SYST"); }, 10000));

  window->close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window; }, 5000));
  for (const auto& session : r.facade.Sessions()) EXPECT_FALSE(session.activityLogging) << "closed: the feed stops";

  users->OpenRow(0);
  window = activity();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->Text(), "");
  bob.Close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window && users->List()->count() == 1; }, 10000))
      << "the session's end closes its window and its row";

  r.Run(DeskCommand::kViewActiveUsers);
  EXPECT_FALSE(r.facade.ActiveUsersOpen());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !users; }, 5000));
}

}  // namespace
}  // namespace velto
