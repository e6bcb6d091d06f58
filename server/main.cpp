// The start routine: the command-line tools, install or remove the service,
// or run the server until it is stopped, with the windows when a display
// exists.
#include "admin/about_info.h"
#include "platform/event_loop.h"
#include "platform/host_info.h"
#include "server/folders.h"
#include "server/front_end.h"
#include "server/globals.h"
#include "config/settings.h"
#include "server/hangup_watch.h"
#include "server/main_window.h"
#include "server/pid_file.h"
#include "server/runhost.h"
#include "server/user_interface.h"
#include "server/user_tool.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsageText =
    "usage: velto               run the server (with its windows when a display is there)\n"
    "       velto SERVICE       run as the system service (what the unit starts)\n"
    "       velto -INSTALL      write the systemd unit velto.service\n"
    "       velto -UNINSTALL    remove that unit\n"
    "       velto user ...      add, change, remove or list accounts (velto user: the commands)\n"
    "       velto addresses     the local addresses by the numbers FTPBindToIP takes\n"
    "       velto --help | -h   this text\n"
    "       velto --version     the program's version\n"
    "Each of them also takes --data-dir DIR (Velto.ini, Velto.usr, Velto.pid) and --log-dir\n"
    "DIR (Access.log, Errors.log); else $VELTO_DATA_DIR and $VELTO_LOG_DIR, else DataFolder=\n"
    "and LogFolder= in velto.paths beside the program, else the program's folder (the logs:\n"
    "the data folder). SIGTERM and SIGINT stop the server (settings saved); SIGHUP reads\n"
    "Velto.usr and the TLS certificate and key again and opens the logs anew.\n";

// The arguments as given, joined by blanks (for messages).
std::string Arguments(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line.push_back(' ');
    line += argv[i];
  }
  return line;
}

// The command line as one text: arguments joined by blanks, upper-cased and
// trimmed.
std::string CommandLine(int argc, char** argv) {
  std::string line = Arguments(argc, argv);
  std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::toupper(c); });
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = line.find_last_not_of(" \t");
  return line.substr(first, last - first + 1);
}

// Whether the command line asks for a server run, an install or a removal.
bool RunsTheProgram(const std::string& commandLine) {
  return commandLine.empty() || commandLine == "SERVICE" || commandLine == "-INSTALL" ||
         commandLine == "-UNINSTALL";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velto;
  // The folders may be named anywhere among the arguments, for every mode.
  FolderOptions folderOptions;
  if (const auto error = TakeFolderOptions(argc, argv, folderOptions)) {
    std::fprintf(stderr, "velto: %s\n%s", error->c_str(), kUsageText);
    return 2;
  }
  // Administration from the command line; never starts a server.
  const std::string_view tool = argc > 1 ? argv[1] : "";
  if (tool == "user") {
    return RunUserTool(std::vector<std::string>(argv + 2, argv + argc), ProgramFolders(folderOptions));
  }
  if (tool == "addresses" && argc == 2) return PrintLocalAddresses();
  // Read before the windowing library takes its own options out.
  const std::string commandLine = CommandLine(argc, argv);
  if (commandLine == "--HELP" || commandLine == "-H") {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (commandLine == "--VERSION") {
    std::printf("velto %d.%d.%d\n", kProgramVersion.major, kProgramVersion.minor, kProgramVersion.revision);
    return 0;
  }
  // Anything else would start a server with whatever settings are there.
  if (!RunsTheProgram(commandLine)) {
    std::fprintf(stderr, "velto: unknown arguments \"%s\"\n%s", Arguments(argc, argv).c_str(), kUsageText);
    return 2;
  }
  const Folders folders = ProgramFolders(folderOptions);
  if (commandLine != "-INSTALL" && commandLine != "-UNINSTALL" && !ServerFoldersUsable(folders)) return 1;
  platform::EventLoop& loop = platform::EventLoop::Instance();
  // Stop requests (SIGTERM, SIGINT) come through the loop. They are watched
  // before the windowing library starts its threads, which inherit the
  // blocked signals; a thread that did not would take the signal and end
  // the process without the unload step.
  std::function<void()> onStopSignal;
  const platform::TargetHandle signals = loop.CreateTarget([&](const platform::Message&) {
    if (onStopSignal) onStopSignal();
  });
  loop.WatchTerminationSignals(signals, 1);
  // SIGHUP (the account tool's "read Velto.usr again") likewise, before the
  // windowing library's threads: one of them would take it and end the
  // process. Until the load step is done it waits.
  std::function<void()> onHangup;
  HangupWatch hangup(loop, [&] {
    if (onHangup) onHangup();
  });
  // The windows' library is loaded only when there is a display for them.
  DesktopInstance desktopLibrary = DisplayAvailable() ? OpenDesktop(argc, argv) : DesktopInstance();
  IFrontEnd* desktop = desktopLibrary.get();
  HeadlessUserInterface headless("velto");
  IUserInterface& ui = desktop ? desktop->UserInterface() : headless;
  MGlobal g(loop);
  g.ui = &ui;

  g.gsAppPath = platform::ExecutableFolder();
  g.gsDataPath = folders.data;
  g.gsLogPath = folders.log;

  // One server per folder: a second one would take the first one's pid
  // file, and the account tool could no longer reach the first. Installing
  // and removing the unit are no server runs. Claimed before the service
  // support exists, which on its way out would stop the running service.
  const bool serverRun = commandLine != "-INSTALL" && commandLine != "-UNINSTALL";
  std::optional<PidFile> pidFile;
  std::string pidProblem;  // for the error log, once it exists
  if (serverRun && !hangup.Watching()) {
    // No pid file either: the tool's SIGHUP would end this server.
    pidProblem = "cannot watch SIGHUP; changes to Velto.usr take effect at the next start";
  } else if (serverRun) {
    pidFile.emplace(g.gsDataPath);
    if (pidFile->Held()) {
      const pid_t holder = pidFile->HolderPid();
      ui.ShowAppMessage("A Velto server already runs from " + g.gsDataPath +
                            (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
                            "; stop it before starting another one there.",
                        kMbStop, "");
      return 1;
    }
    if (!pidFile->Written()) {
      pidProblem = "cannot write " + pidFile->Path() + " (" + pidFile->Error() +
                   "); reload the accounts with kill -HUP " + std::to_string(::getpid());
    }
  }
  if (!pidProblem.empty()) std::fprintf(stderr, "velto: %s\n", pidProblem.c_str());

  g.gobjRunhost = std::make_unique<CRunhost>(loop, g.gsAppPath, CRunhost::DefaultUnitFolder());
  g.gobjRunhost->CommandParams = commandLine;
  g.gobjRunhost->SetCommandOptions(FolderArguments(folderOptions));
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
  if (!pidProblem.empty()) g.LogError(0, pidProblem, "Form_Load");
  // Without a listener a headless run or a service serves nobody: it ends
  // the orderly way at once, and systemd and scripts learn it from the
  // status. The windows stay and say why.
  const bool noServer = !main.ListenerProblem().empty() && (!desktop || g.gbRunningAsService);
  if (!noServer) {
    if (!g.gbRunningAsService) {
      bool startMinimized = false;
      ReadSetting(*g.gobjIni, Setting::StartMinimized, startMinimized);
      ui.ShowMainWindow(!startMinimized);
    }
    onHangup = [&] {
      main.ReloadUsers();
      // A renewed certificate takes over without dropping a session.
      main.LoadTlsCredentials(true);
      main.ReopenLogs();
      main.ResolvePassiveAddress(true);
    };
    if (desktop) {
      desktop->Run(requestUnload);
    } else {
      loop.Run();
    }
  }
  main.Unload();
  loop.DestroyTarget(signals);
  return noServer ? 1 : 0;
}
