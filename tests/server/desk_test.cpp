// The windows' models over the real server, without a display: the main
// window's commands and check marks, the tray retry, the Active Users rows
// and the activity windows. tests/gui drives the same through the widgets.
#include "server/active_users.h"
#include "server/activity_windows.h"
#include "server/desk_controller.h"
#include "server/server_facade.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace velto {
namespace {

using test::Client;
using test::ListeningFolder;
using test::LiveServer;
using test::PumpUntil;
using test::RecordingUi;

class FakeDesk final : public IDesk {
 public:
  bool minimized = false;
  bool diagnostics = false;
  int imports = 0;
  bool browser = true;  // whether the desktop can open addresses
  std::vector<std::string> opened;
  CServerFacade* facade = nullptr;

  void MinimizeMain() override { minimized = true; }
  bool DiagnosticsShown() const override { return diagnostics; }
  void ShowDiagnostics(bool shown) override { diagnostics = shown; }
  void ShowActiveUsers(bool open) override { facade->SetActiveUsersOpen(open); }
  void ShowAbout() override {}
  void OpenFtpOptions() override {}
  void OpenSettings() override {}
  void ImportAccounts() override { ++imports; }
  bool OpenAddress(const std::string& address) override {
    opened.push_back(address);
    return browser;
  }
};

struct Running {
  ListeningFolder folder;
  RecordingUi ui;
  LiveServer server{folder, ui};
  CServerFacade facade{server.g, server.main};
  FakeDesk desk;
  DeskController controller{facade, ui, desk};
  Running() { desk.facade = &facade; }

  std::string LoggedOn(Client& client, const std::string& user = "bob") {
    client.Send("USER " + user + "\r\nPASS secret\r\n");
    EXPECT_TRUE(PumpUntil([&] { return client.Has("230 "); })) << client.Received();
    for (const auto& session : facade.Sessions()) {
      if (session.userId == user && session.loggedOn && !Known(session.key)) return Remember(session.key);
    }
    return {};
  }
  std::vector<std::string> keys;
  bool Known(const std::string& key) const { return std::find(keys.begin(), keys.end(), key) != keys.end(); }
  std::string Remember(const std::string& key) {
    keys.push_back(key);
    return key;
  }
};

TEST(DeskController, CommandsAndCheckMarksFollowTheProgram) {
  Running d;
  EXPECT_TRUE(d.controller.Checked(DeskCommand::kActivateFtp)) << "listening after the load";
  d.controller.Run(DeskCommand::kActivateFtp);
  EXPECT_FALSE(d.controller.Checked(DeskCommand::kActivateFtp));
  EXPECT_NE(d.folder.Read("Velto.ini").find("FTPActive=False"), std::string::npos) << "written at once";
  // The listener closes gracefully: its port is free once its row has gone.
  ASSERT_TRUE(PumpUntil([&] { return d.facade.ConnectionList().RowCount() == 0; }));
  d.controller.Run(DeskCommand::kActivateFtp);
  EXPECT_TRUE(d.controller.Checked(DeskCommand::kActivateFtp));

  EXPECT_FALSE(d.controller.Checked(DeskCommand::kViewRealTime));
  d.controller.Run(DeskCommand::kViewRealTime);
  EXPECT_TRUE(d.controller.Checked(DeskCommand::kViewRealTime));
  EXPECT_TRUE(d.facade.ViewRealTime());

  d.controller.Run(DeskCommand::kDiagnostics);
  EXPECT_TRUE(d.controller.Checked(DeskCommand::kDiagnostics));
  d.controller.Run(DeskCommand::kDiagnostics);
  EXPECT_FALSE(d.desk.diagnostics);
  d.controller.Run(DeskCommand::kViewActiveUsers);
  EXPECT_TRUE(d.controller.Checked(DeskCommand::kViewActiveUsers));
  d.controller.Run(DeskCommand::kViewActiveUsers);
  EXPECT_FALSE(d.controller.Checked(DeskCommand::kViewActiveUsers));

  d.controller.Run(DeskCommand::kImportUsers);
  EXPECT_EQ(d.ui.messages.back().rfind("Would you like choose users", 0), 0u);
  EXPECT_EQ(d.desk.imports, 0) << "answered No";
  d.ui.answer = kIdYes;
  d.controller.Run(DeskCommand::kImportUsers);
  EXPECT_EQ(d.desk.imports, 1);

  d.controller.Run(DeskCommand::kHelpContents);
  EXPECT_TRUE(d.desk.opened.empty()) << "no help file, nothing opened";
  std::ofstream(d.folder.Path() + "Velto.hlp") << "help";
  d.controller.Run(DeskCommand::kHelpContents);
  d.controller.Run(DeskCommand::kSupportOnline);
  d.controller.OpenLogoAddress();
  EXPECT_EQ(d.desk.opened, (std::vector<std::string>{d.folder.Path() + "Velto.hlp", "https://velto.example.org/support",
                                                     "http://velto.example.org"}));
  EXPECT_EQ(d.ui.messages.size(), 2u) << "opened, so nothing said";
  d.desk.browser = false;
  d.controller.Run(DeskCommand::kSupportOnline);
  d.controller.OpenLogoAddress();
  EXPECT_EQ(d.ui.messages,
            (std::vector<std::string>{d.ui.messages[0], d.ui.messages[1],
                                      "No web browser could be started. The address is https://velto.example.org/support",
                                      "No web browser could be started. The address is http://velto.example.org"}));
  d.controller.Run(DeskCommand::kMinimize);
  EXPECT_TRUE(d.desk.minimized);

  // Exit ends the loop; the unload step then saves the settings.
  bool exited = false;
  d.facade.SetExitHandler([&] { exited = true; });
  d.controller.Run(DeskCommand::kExit);
  EXPECT_TRUE(exited);
  d.server.main.Unload();
  EXPECT_NE(d.folder.Read("Velto.ini").find("ViewRealTime=True"), std::string::npos);
}

TEST(DeskController, ClosingTheListenerRowAsksFirstAClientRowDoesNot) {
  Running d;
  IListControl& rows = d.facade.ConnectionList();
  ASSERT_EQ(rows.RowCount(), 1);
  d.controller.CloseConnection(0);
  EXPECT_EQ(d.ui.messages, std::vector<std::string>{DeskController::kStopListenerQuestion});
  EXPECT_TRUE(d.controller.Checked(DeskCommand::kActivateFtp)) << "answered No: still listening";

  Client client(d.folder.Port());
  ASSERT_TRUE(PumpUntil([&] { return client.Has("220 ") && rows.RowCount() == 2; }));
  d.controller.CloseConnection(1);
  EXPECT_TRUE(PumpUntil([&] { return client.Ended() && rows.RowCount() == 1; }));
  EXPECT_EQ(d.ui.messages.size(), 1u) << "a client is cut off without a question";

  d.ui.answer = kIdYes;
  d.controller.CloseConnection(0);
  EXPECT_TRUE(PumpUntil([&] { return rows.RowCount() == 0; }));
  EXPECT_FALSE(d.controller.Checked(DeskCommand::kActivateFtp));
}

TEST(TrayStarter, RetriesUntilTheTrayTakesTheIcon) {
  RecordingUi ui;
  ui.trayShowsAfter = 2;
  TrayStarter starter(platform::EventLoop::Instance(), ui, 1);
  EXPECT_TRUE(PumpUntil([&] { return !starter.Armed(); }));
  EXPECT_EQ(ui.trayAttempts, 3);
  EXPECT_TRUE(ui.TrayIconStarted());
}

TEST(ActiveUsers, RowsFollowLogonsAndClosedConnections) {
  Running d;
  Client bob(d.folder.Port());
  const std::string bobKey = d.LoggedOn(bob);
  Client early(d.folder.Port());
  ASSERT_TRUE(PumpUntil([&] { return early.Has("220 "); }));

  MemoryListControl rows;
  auto users = std::make_unique<ActiveUsers>(d.facade, rows);
  EXPECT_TRUE(d.facade.ActiveUsersOpen());
  ASSERT_EQ(rows.RowCount(), 2) << "every session, logged on or not";
  EXPECT_EQ(rows.RowText(0), "bob");
  EXPECT_EQ(rows.RowText(1), "");
  EXPECT_EQ(users->SessionAt(0), bobKey);

  Client second(d.folder.Port());
  d.LoggedOn(second);
  d.LoggedOn(early);
  ASSERT_EQ(rows.RowCount(), 3) << "a log-on adds a row; a listed session keeps its one row";
  EXPECT_EQ(rows.RowText(1), "bob");

  bob.Close();
  EXPECT_TRUE(PumpUntil([&] { return rows.RowCount() == 2; }));
  EXPECT_EQ(rows.FindRowByData(std::stoi(bobKey)), -1);
  EXPECT_EQ(users->SessionAt(5), std::nullopt);

  users.reset();
  EXPECT_FALSE(d.facade.ActiveUsersOpen());
}

class FakeActivityView final : public IActivityView {
 public:
  FakeActivityView(std::string title, std::function<void()> closed)
      : caption(std::move(title)), closed_(std::move(closed)) {}
  std::string caption;
  std::string text;
  int raised = 0;
  void ShowText(const std::string& shown) override { text = shown; }
  void Raise() override { ++raised; }
  void CloseView() override { closed_(); }

 private:
  std::function<void()> closed_;
};

TEST(ActivityWindows, OneWindowPerSessionFedWhileOpenPasswordsMasked) {
  Running d;
  std::map<std::string, std::unique_ptr<FakeActivityView>> views;
  std::unique_ptr<ActivityWindows> windows;
  windows = std::make_unique<ActivityWindows>(
      d.facade,
      [&](const std::string& key, const std::string& caption) -> IActivityView& {
        auto& view = views[key];
        view = std::make_unique<FakeActivityView>(caption, [&windows, key] { windows->ViewClosed(key); });
        return *view;
      },
      [](std::string_view text) { return "STAMP " + std::string(text); });
  Client bob(d.folder.Port());
  const std::string key = d.LoggedOn(bob);
  auto logging = [&] { return d.facade.Session(key)->activityLogging; };

  ASSERT_TRUE(windows->Open(key));
  EXPECT_TRUE(logging());
  EXPECT_EQ(views[key]->caption, "Activity - bob [127.0.0.1]");
  bob.Send("NOOP\r\n");
  bob.Send("PASS hidden\r\n");
  ASSERT_TRUE(PumpUntil([&] { return views[key]->text.find("PASS") != std::string::npos; })) << views[key]->text;
  EXPECT_EQ(views[key]->text.rfind("STAMP PASS ****\r\n", 0), 0u) << views[key]->text;
  EXPECT_NE(views[key]->text.find("STAMP NOOP\r\n"), std::string::npos);
  windows->Open(key);
  EXPECT_EQ(views[key]->raised, 1) << "one window per session";

  views[key]->CloseView();
  EXPECT_FALSE(windows->IsOpen(key));
  EXPECT_FALSE(logging()) << "closing the window stops the feed";
  windows->Open(key);
  EXPECT_EQ(windows->Text(key), "") << "a fresh window";

  bob.Close();
  EXPECT_TRUE(PumpUntil([&] { return !windows->IsOpen(key); }));
  EXPECT_FALSE(windows->Open(key)) << "the session is gone";
}

// With windows the program stays when it cannot listen; its title says why.
TEST(MainWindow, TitleSaysWhyTheServerDoesNotListen) {
  ListeningFolder folder;
  platform::UniqueFd holder(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(folder.Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(holder.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder.get(), 1), 0);
  RecordingUi ui;
  LiveServer server(folder, ui);
  const std::string why = " - not listening on port " + std::to_string(folder.Port()) + ": cannot listen on 0.0.0.0";
  EXPECT_NE(server.main.Title().find(why), std::string::npos) << server.main.Title();
  EXPECT_EQ(server.main.ListenerProblem().rfind("not listening on port", 0), 0u);
  holder.reset();
  ASSERT_TRUE(server.main.ActivateFTP());
  EXPECT_EQ(server.main.Title().find("not listening"), std::string::npos) << server.main.Title();
}

}  // namespace
}  // namespace velto
