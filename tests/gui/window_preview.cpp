// Shows windows of the front end with sample content, for screenshots and a
// look by hand: velto_window_preview [--quit]
//   desk|diagnostics|about|splash|tabs|tray|ftpoptions|settings|import|progress...
// "desk" runs the real server in a folder of its own with a few clients on
// loopback: the main window with their connections, Diagnostics with the
// real-time feed and one client's activity window.
// With --quit it opens them and ends at once (a check that they build up).
// The dialogs work on a server core loaded from a temporary folder.
#include "admin/diagnostics_model.h"
#include "gui/about_dialog.h"
#include "gui/account_import_dialogs.h"
#include "gui/activity_window.h"
#include "gui/app_resources.h"
#include "gui/desk.h"
#include "gui/diagnostics_window.h"
#include "gui/ftp_options_dialog.h"
#include "gui/loop_bridge.h"
#include "gui/main_view.h"
#include "gui/mini_tab.h"
#include "gui/qt_user_interface.h"
#include "gui/settings_dialog.h"
#include "gui/splash_window.h"
#include "gui/tray_icon.h"
#include "platform/host_info.h"
#include "log/log_lines.h"
#include "tests/server/server_fixture.h"
#include "users/ftp_users.h"

#include "server_core.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFrame>
#include <QListWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

velto::SocketFacts HostFacts() {
  velto::SocketFacts facts;
  facts.computerName = platform::LocalHostName();
  facts.firstAddress = platform::LocalAddresses().front();
  facts.description = "Linux BSD sockets (IPv4 stream and datagram, non-blocking, epoll notifications)";
  facts.maxSockets = "1024";
  facts.maxUdpDg = "65507";
  facts.systemStatus = "Running";
  return facts;
}

// Lets Qt's loop (and with it the server) run until `done` holds.
template <typename Pred>
void RunUntil(Pred done) {
  const QDeadlineTimer deadline(10000);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// The real server with the windows over it, and clients on loopback.
struct DeskPreview {
  velto::test::ListeningFolder folder{"ViewRealTime=True\r\n"};
  velto::QtUserInterface ui{"velto"};
  velto::test::LiveServer server{folder, ui};
  velto::CServerFacade facade{server.g, server.main};
  velto::LoopBridge bridge{server.g.loop};
  velto::Desk desk{facade, ui, {}};
  std::vector<std::unique_ptr<velto::test::Client>> clients;

  DeskPreview() {
    server.g.gobjFTPUsers->pAddUser("alice", "secret", folder.Path(), true, true, true, true, false, true);
    ui.AttachMainWindow(&desk.MainView());
    ui.SetTrayMenu(&desk.Popup());
    ui.StartTrayIcon();
    desk.ShowDiagnostics(true);
    desk.Diagnostics()->ShowLogAction()->trigger();
    ui.ShowMainWindow(true);
    for (const char* user : {"bob", "alice", ""}) {
      auto& client = *clients.emplace_back(std::make_unique<velto::test::Client>(folder.Port()));
      if (*user != '\0') client.Send(std::string("USER ") + user + "\r\nPASS secret\r\n");
      RunUntil([&] { return client.Has(*user != '\0' ? "230 " : "220 "); });
    }
    for (const auto& session : facade.Sessions()) {
      if (session.userId == "bob") desk.Activity().Open(session.key);
    }
    clients[0]->Send("SYST\r\n");
    RunUntil([&] { return clients[0]->Has("215 "); });
    clients[0]->Send("TYPE I\r\n");
    RunUntil([&] { return clients[0]->Has("200 "); });
    clients[0]->Send("PWD\r\n");
    RunUntil([&] { return clients[0]->Has("257 "); });
    ui.ShowMainWindow(true);
    // Side by side: a bare X server has no window manager to place them.
    velto::FMainView& main = desk.MainView();
    main.move(0, 0);
    for (auto* activity : main.findChildren<velto::FActivity*>()) activity->move(main.frameGeometry().right() + 16, 0);
    desk.Diagnostics()->move(0, main.frameGeometry().bottom() + 16);
  }
  ~DeskPreview() {
    ui.SetTrayMenu(nullptr);
    ui.AttachMainWindow(nullptr);
  }
};

// A core with a few accounts for the dialogs to show.
std::unique_ptr<velto::test::ServerCore> SampleCore(const velto::test::ProgramFolder& folder) {
  auto core = std::make_unique<velto::test::ServerCore>(folder);
  velto::CFTPUsers& users = core->facade.Users();
  users.pAddUser("anonymous", "", "/srv/ftp/pub", false, true, true, false, true, true);
  users.pAddUser("alice", "secret", "/srv/ftp/alice", true, true, true, true, false, true);
  users.pAddUser("bob", "secret", "/srv/ftp/bob", false, true, true, false, false, true);
  return core;
}

}  // namespace

int main(int argc, char** argv) {
  bool quit = false;
  std::vector<const char*> names;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quit") == 0) {
      quit = true;
    } else {
      names.push_back(argv[i]);
    }
  }
  if (quit && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setWindowIcon(velto::AppIcon());

  std::unique_ptr<velto::FDiagnostics> diagnostics;
  std::unique_ptr<velto::FAbout> about;
  std::unique_ptr<velto::FSplash> splash;
  std::unique_ptr<QWidget> tabsPage;
  std::unique_ptr<velto::TrayIcon> tray;
  std::unique_ptr<DeskPreview> desk;
  QApplication::setQuitOnLastWindowClosed(false);
  std::unique_ptr<velto::test::ProgramFolder> folder;
  std::unique_ptr<velto::test::ServerCore> core;
  std::unique_ptr<velto::FFTPOptions> ftpOptions;
  std::unique_ptr<velto::FSettings> settings;
  std::unique_ptr<velto::FDomainUsers> picker;
  std::unique_ptr<velto::FProgress> progress;
  const auto sampleCore = [&]() -> velto::CServerFacade& {
    if (!core) {
      folder = std::make_unique<velto::test::ProgramFolder>("[Settings]\r\nUseBuffersToSend=True\r\n");
      core = SampleCore(*folder);
    }
    return core->facade;
  };
  for (const char* name : names) {
    const std::string window = name;
    if (window == "desk") {
      desk = std::make_unique<DeskPreview>();
    } else if (window == "diagnostics") {
      diagnostics =
          std::make_unique<velto::FDiagnostics>(HostFacts, [] { return true; }, [] { return std::size_t{1}; });
      diagnostics->ShowLogAction()->trigger();
      diagnostics->ActivityFeed(velto::TimeStampText("Connection request on 21 from 127.0.0.1 (socket 9)"));
      diagnostics->show();
    } else if (window == "about") {
      about = std::make_unique<velto::FAbout>();
      about->ShowAboutForm();
    } else if (window == "splash") {
      splash = std::make_unique<velto::FSplash>(std::chrono::hours(1));
      splash->SetStatus("Initializing Network Services...");
      splash->show();
    } else if (window == "tabs") {
      tabsPage = std::make_unique<QWidget>();
      tabsPage->setWindowTitle("Tab strip");
      auto* tabs = new velto::MiniTab(tabsPage.get());
      tabs->SetCaption(0, "Settings");
      tabs->SetCaption(1, "Network");
      tabs->SetActiveTab(1);
      auto* page = new QFrame(tabsPage.get());
      page->setFrameStyle(QFrame::Panel | QFrame::Raised);
      page->setMinimumSize(320, 160);
      auto* layout = new QVBoxLayout(tabsPage.get());
      layout->setSpacing(0);
      layout->addWidget(tabs);
      layout->addWidget(page);
      tabsPage->show();
    } else if (window == "tray") {
      tray = std::make_unique<velto::TrayIcon>([] { return "Velto - [" + platform::LocalHostName() + "]"; });
      std::printf("tray icon started: %s\n", tray->StartTrayService() ? "yes" : "no (no system tray)");
      std::fflush(stdout);
    } else if (window == "ftpoptions") {
      ftpOptions = std::make_unique<velto::FFTPOptions>(sampleCore());
      ftpOptions->show();
      ftpOptions->UserList()->setCurrentRow(1);
    } else if (window == "settings") {
      settings = std::make_unique<velto::FSettings>(sampleCore());
      settings->show();
    } else if (window == "import") {
      picker = std::make_unique<velto::FDomainUsers>(
          [] { return std::vector<std::string>{"ada", "brendan", "chiara", "dmitri", "eun-ji"}; });
      picker->UserList()->item(1)->setSelected(true);
      picker->UserList()->item(2)->setSelected(true);
      picker->show();
    } else if (window == "progress") {
      progress = std::make_unique<velto::FProgress>();
      progress->SetTotal(5);
      progress->Status(velto::AccountImport::kAdding);
      progress->Increase(2);
      progress->setWindowModality(Qt::NonModal);
      progress->show();
    } else {
      std::fprintf(stderr, "unknown window: %s\n", name);
      return 2;
    }
  }
  // exit, not quit: the main window and the progress window refuse to close
  // by themselves.
  if (quit) QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
  return QApplication::exec();
}
