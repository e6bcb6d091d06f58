// The start routine: install or remove the service, or run the server until
// it is stopped.
#include "platform/event_loop.h"
#include "platform/host_info.h"
#include "server/globals.h"
#include "config/settings.h"
#include "server/main_window.h"
#include "server/runhost.h"
#include "server/user_interface.h"
#include "server/user_tool.h"

#include <algorithm>
#include <cctype>
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
  HeadlessUserInterface ui("velto");
  MGlobal g(loop);
  g.ui = &ui;

  const std::string commandLine = CommandLine(argc, argv);
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

  // Stop requests end the loop; the unload step runs after it, outside any
  // handler (the objects it releases may be on the stack of one).
  auto requestUnload = [&] {
    if (g.gbUnloading) return;
    g.gbUnloading = true;
    loop.Quit(0);
  };
  const platform::TargetHandle signals = loop.CreateTarget([&](const platform::Message&) {
    if (g.gbRunningAsService && g.gobjRunhost && g.gobjRunhost->SupportWindow() != 0) {
      loop.Post(g.gobjRunhost->SupportWindow(), kRunhostStopMessage, kRunhostStop, 0);
    } else {
      requestUnload();
    }
  });
  loop.WatchTerminationSignals(signals, 1);

  if (g.gbRunningAsService) {
    g.gobjRunhost->SetStopHandler(requestUnload);
    g.gobjRunhost->Run([&](const std::string& text) { ui.ShowAppMessage(text, kMbOk, ""); });
  }
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
  loop.Run();
  main.Unload();
  loop.DestroyTarget(signals);
  return 0;
}
