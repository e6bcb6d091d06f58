// The start routine: install or remove the service, or run the server until
// it is stopped, with the windows when a display exists.
#include "platform/event_loop.h"
#include "platform/host_info.h"
#include "server/front_end.h"
#include "server/globals.h"
#include "config/settings.h"
#include "server/main_window.h"
#include "server/runhost.h"
#include "server/user_interface.h"
#include "server/user_tool.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The command line as one text: arguments joined by blanks, upper-cased and
// trimmed.
std::string CommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line.push_back(' ');
    line += argv[i];
  }
  std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::toupper(c); });
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = line.find_last_not_of(" \t");
  return line.substr(first, last - first + 1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velto;
  // Administration from the command line; never starts a server.
  const std::string_view tool = argc > 1 ? argv[1] : "";
  if (tool == "user") return RunUserTool(std::vector<std::string>(argv + 2, argv + argc));
  if (tool == "addresses" && argc == 2) return PrintLocalAddresses();
  platform::EventLoop& loop = platform::EventLoop::Instance();
  // Read before the windowing library takes its own options out.
  const std::string commandLine = CommandLine(argc, argv);
  // Stop requests (SIGTERM, SIGINT) come through the loop. They are watched
  // before the windowing library starts its threads, which inherit the
  // blocked signals; a thread that did not would take the signal and end
  // the process without the unload step.
  std::function<void()> onStopSignal;
  const platform::TargetHandle signals = loop.CreateTarget([&](const platform::Message&) {
    if (onStopSignal) onStopSignal();
  });
  loop.WatchTerminationSignals(signals, 1);
  std::unique_ptr<IFrontEnd> desktop = DisplayAvailable() ? CreateDesktopFrontEnd(argc, argv) : nullptr;
  HeadlessUserInterface headless("velto");
  IUserInterface& ui = desktop ? desktop->UserInterface() : headless;
  MGlobal g(loop);
  g.ui = &ui;

  g.gsAppPath = platform::ExecutableFolder();
  g.gobjRunhost = std::make_unique<CRunhost>(loop, g.gsAppPath, CRunhost::DefaultUnitFolder());
  g.gobjRunhost->CommandParams = commandLine;
  g.gobjRunhost->SetServiceParams("Velto", "Velto");

  // Scripts and the service manager read the exit status: a failure is
  // never 0.
  if (commandLine == "-INSTALL") {
    const bool installed = g.gobjRunhost->ServiceInstall();
    if (!installed) ui.ShowAppMessage("Error---unable to install service.", kMbOk, "");
    g.gobjRunhost.reset();
    return installed ? 0 : 1;
  }
  if (commandLine == "-UNINSTALL") {
    const bool removed = g.gobjRunhost->ServiceUninstall();
    if (!removed) ui.ShowAppMessage("Unable to uninstall service (the named service may not exist).", kMbOk, "");
    g.gobjRunhost.reset();
    return removed ? 0 : 1;
  }

  g.gbRunningAsService = g.gobjRunhost->IsRunningAsService();
  FMain main(g);
  // The windows' view of the server; it must go before the main window.
  std::optional<CServerFacade> facade;
  if (desktop) facade.emplace(g, main);

  // Stop requests end the loop; the unload step runs after it, outside any
  // handler (the objects it releases may be on the stack of one).
  auto requestUnload = [&] {
    if (g.gbUnloading) return;
    g.gbUnloading = true;
    loop.Quit(0);
  };
  onStopSignal = [&] {
    if (g.gbRunningAsService && g.gobjRunhost && g.gobjRunhost->SupportWindow() != 0) {
      loop.Post(g.gobjRunhost->SupportWindow(), kRunhostStopMessage, kRunhostStop, 0);
    } else {
      requestUnload();
    }
  };

  if (g.gbRunningAsService) {
    g.gobjRunhost->SetStopHandler(requestUnload);
    g.gobjRunhost->Run([&](const std::string& text) { ui.ShowAppMessage(text, kMbOk, ""); });
  }
  if (desktop) desktop->Prepare(g, *facade);
  main.Load();
  if (g.gbAbortStart) {
    main.Unload();
    return 1;
  }
  if (!g.gbRunningAsService) {
    bool startMinimized = false;
    ReadSetting(*g.gobjIni, Setting::StartMinimized, startMinimized);
    ui.ShowMainWindow(!startMinimized);
  }
  if (desktop) {
    desktop->Run(requestUnload);
  } else {
    loop.Run();
  }
  main.Unload();
  loop.DestroyTarget(signals);
  return 0;
}
