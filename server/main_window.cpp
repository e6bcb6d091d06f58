#include "server/main_window.h"

#include "ftp/ftp_sessions.h"
#include "ftp/replies.h"
#include "platform/system_logon.h"
#include "platform/winsock_errors.h"
#include "config/settings.h"
#include "log/log_lines.h"

#include <sys/stat.h>
#include <syslog.h>

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velto {

namespace {

constexpr const char* kComponentFile = "libportwell.so";

std::string LibraryMissingText() {
  return std::string("There was error initializing the ") + kComponentFile +
         ".  Please ensure that the correct version of this dll is present and registered.";
}

}  // namespace

FMain::FMain(MGlobal& globals) : g_(globals), settings_(globals) {
  hwnd_ = g_.loop.CreateTarget([](const platform::Message&) {});
  g_.loop.SetVisible(hwnd_, false);
}

FMain::~FMain() {
  Unload();
  g_.loop.DestroyTarget(hwnd_);
}

std::string FMain::SockStateText(std::int32_t state) {
  switch (state) {
    case PWL_CLOSED: return "Closed socket connection";
    case PWL_OPEN: return "Socket Open";
    case PWL_LISTENING: return "Socket Listening";
    case PWL_ACCEPTED_CONNECTION: return "Accepted socket connection";
    case PWL_RESOLVING_HOST: return "Resolving host";
    case PWL_RESOLVED_HOST: return "Resolved host";
    case PWL_CONNECTING: return "Connecting";
    case PWL_CONNECTED: return "Connected";
    case PWL_CLOSING: return "Closing socket connection";
    case PWL_ERROR: return "Socket Error";
    case PWL_REJECTED_CONNECTION: return "Rejected connection";
    default: return {};
  }
}

std::string FMain::BannerLine(const std::string& banner) {
  const bool isReply = banner.size() >= 4 && std::isdigit(static_cast<unsigned char>(banner[0])) &&
                       std::isdigit(static_cast<unsigned char>(banner[1])) &&
                       std::isdigit(static_cast<unsigned char>(banner[2])) && banner[3] == ' ';
  return reply::Line(isReply ? banner : "421 " + banner);
}

bool FMain::CreateComponent() {
  PortwellLoadStatus status = PortwellLoadStatus::FileAbsent;
  std::string detail;
  g_.gobjPortwell = PortwellInstance::Load(g_.gsAppPath + kComponentFile, status, &detail);
  if (g_.gobjPortwell) return true;
  if (status == PortwellLoadStatus::FileAbsent) {
    g_.ui->ShowAppMessage(LibraryMissingText(), kMbStop, "Error");
    return false;
  }
  // Present but not loadable: there is no registration step on this
  // system, so the same stop message; the loader's reason goes to stderr.
  std::fprintf(stderr, "velto: %s\n", detail.c_str());
  g_.ui->ShowAppMessage(LibraryMissingText(), kMbStop, "Error");
  return false;
}

void FMain::CreateSessionTable() {
  SessionServices services;
  services.users = g_.gobjFTPUsers.get();
  services.accessLog = g_.gobjAccessLog.get();
  services.errorLog = g_.gobjErrorLog.get();
  services.transferLog = g_.gobjTransferLog.get();
  // The system's password check may block (PAM modules sleep and wait on
  // services): it runs on the one worker thread, which gets copies only.
  platform::BackgroundWorker* worker = g_.worker.get();
  services.systemLogon = [worker](const std::string& user, const std::string& password,
                                  std::function<void(bool)> done) {
    worker->Run([user, password] { return platform::SystemLogonCheck(user, password); }, std::move(done));
  };
  services.offLoop = [worker](std::function<bool()> job, std::function<void(bool)> done) {
    worker->Run(std::move(job), std::move(done));
  };
  services.feed = [this](const std::string& line) { g_.Feed(line); };
  services.activity = [this](CFTPSession& session, std::string_view text) {
    if (g_.onActivity) g_.onActivity(session, text);
  };
  services.logonChanged = [this](CFTPSession& session) {
    NotifySessionsChanged(SessionChange::Kind::kLogon, session.SocketHandle());
  };
  g_.gobjFTPSessions = std::make_unique<CFTPSessions>(g_.loop, std::move(services));
}

// The user file's cipher key is public: anyone who can read the file has
// every password.
void FMain::WarnAboutReadableUserFile() {
  const std::string path = g_.DataPath() + "Velto.usr";
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 077) == 0) return;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  const std::string text = path + " is readable by other users (mode " + mode +
                           "); it holds every account's password. Make it private: chmod 600 " + path;
  std::fprintf(stderr, "velto: %s\n", text.c_str());
  ::syslog(LOG_WARNING, "%s", text.c_str());
  g_.LogError(0, text, "Form_Load");
}

void FMain::Load() {
  // 1-2: the socket component.
  if (!CreateComponent()) {
    g_.gbAbortStart = true;
    return;
  }
  // 3: the program-wide objects, in order.
  g_.worker = std::make_unique<platform::BackgroundWorker>(g_.loop);
  g_.gobjConnectionEntries = std::make_unique<CConnectionEntries>();
  g_.gobjMessageQueue = std::make_unique<CMessageQueue>(g_.loop);
  g_.gobjFTPUsers = std::make_unique<CFTPUsers>();
  g_.gobjAccessLog = std::make_unique<CLog>();
  g_.gobjErrorLog = std::make_unique<CLog>();
  g_.gobjTransferLog = std::make_unique<CTransferLog>();
  g_.gobjIni = std::make_unique<CIni>();
  CreateSessionTable();
  if (!g_.lstConnections) g_.lstConnections = std::make_unique<MemoryListControl>();
  hostContext_ = std::make_unique<HostContext>(HostContext{
      *g_.gobjPortwell, g_.loop, routes_,
      [this](std::int64_t number, const std::string& description, const std::string& context) {
        g_.LogError(number, description, context);
      },
      [this](std::int32_t handle) { g_.CloseSocket(handle, true); }});

  // 4: the settings file.
  g_.gobjIni->SetFileName(g_.DataPath() + "Velto.ini", CIni::LoneLineFeed::kLineBreak);
  const CIni& ini = *g_.gobjIni;

  // 5-6: socket services.
  g_.gobjPortwell->SetEventSink(this);
  bool active = false;
  try {
    active = g_.gobjPortwell->Activate(true);
  } catch (const PortwellError& e) {
    g_.LogError(e.Number, e.Description, "Form_Load");
  }
  if (!active) {
    g_.ui->ShowAppMessage(
        "Winsock failed to start correctly.  Please ensure that a Winsock 1.1 compliant stack is correctly "
        "installed on your system and then try starting Velto again.",
        kMbOk, "");
    g_.gbAbortStart = true;
    return;
  }

  // 7-9.
  g_.gsSupportOnlineURL = ReadSettingText(ini, Setting::SupportOnlineURL);
  if (!g_.gobjMessageQueue->Contains(hwnd_)) g_.gobjMessageQueue->AddHwnd(hwnd_);
  g_.gobjAccessLog->SetLogFile(g_.LogPath() + "Access.log");
  g_.gobjErrorLog->SetLogFile(g_.LogPath() + "Errors.log");
  OpenTransferLog(false);
  WarnAboutReadableUserFile();
  g_.gobjFTPUsers->SetDataFile(g_.DataPath() + "Velto.usr");
  if (g_.gobjFTPUsers->Count() == 0 && ::access((g_.DataPath() + "Velto.usr").c_str(), F_OK) == 0) {
    const std::string text = g_.DataPath() + "Velto.usr holds no account that could be read";
    std::fprintf(stderr, "velto: %s\n", text.c_str());
    g_.LogError(0, text, "Form_Load");
  }

  // 10: the first-start question; headless it is answered No, and the
  // question is not asked again.
  bool showImport = false;
  ReadSetting(ini, Setting::ShowCreateNTUserList, showImport);
  if (showImport) {
    const int answer = g_.ui->ShowAppMessage(
        "Welcome to Velto!  Would you like choose users to add from an existing NT Domain, Server, or workstation "
        "(it may take a few seconds)?",
        kMbYesNo, "Welcome");
    if (answer == kIdYes && g_.importAccounts) g_.importAccounts();
    WriteSetting(*g_.gobjIni, Setting::ShowCreateNTUserList, "False", true);
  }
  // 11: the import exists on this system (the platform id is always 2).
  menus_.importNTUsersEnabled = true;
  // 12.
  bool hideSplash = false;
  ReadSetting(ini, Setting::HideSplashScreen, hideSplash);
  if (!hideSplash) g_.ui->SplashStatus("Loading Settings...");

  // 13-18: every setting that has a live value, through the one table.
  settings_.Load(ini, kLoadSettings);
  ApplyPassivePorts();
  ResolvePassiveAddress(false);
  menus_.viewRealTimeChecked = g_.gbViewRealTime;
  bool ftpActive = false;
  ReadSetting(ini, Setting::FTPActive, ftpActive);
  LoadTlsCredentials(false);
  if (ftpActive) ActivateFTP();
  g_.gobjFTPSessions->ArmTimer();

  // 19-20.
  g_.gobjFTPUsers->IsRunningAsService = g_.gobjRunhost && g_.gobjRunhost->IsRunningAsService();
  g_.gobjFTPUsers->WinVersion = 2;
  g_.gobjFTPUsers->SetSystemLogonCheck(&platform::SystemLogonCheck);
  g_.gobjFTPUsers->SetAnonymousSwitch([this] { return g_.gobjFTPSessions && g_.gobjFTPSessions->AllowAnonymousLogons; });

  // 21: the title.
  std::string addresses;
  for (const auto& address : g_.gobjPortwell->LocalHostIP()) addresses += "[" + address + "] ";
  std::string title = "Velto - [" + g_.gobjPortwell->LocalHostName() + "] " + addresses;
  while (!title.empty() && title.back() == ' ') title.pop_back();
  baseTitle_ = title;
  SetListenerProblem(listenerProblem_);

  // 23-24: the tray icon; a service keeps trying while the desktop has no
  // tray, and its window stays hidden.
  if (!g_.gbRunningAsService || !g_.gbHideIcon) g_.ui->StartTrayIcon();
  if (g_.gbRunningAsService && !g_.gbHideIcon) {
    trayStarter_ = std::make_unique<TrayStarter>(g_.loop, *g_.ui);
    g_.ui->ShowMainWindow(false);
  }
  // 25.
  if (!hideSplash) {
    g_.ui->SplashStatus("Initializing Network Services...");
    g_.ui->SplashReady();
  }
}

void FMain::ReloadUsers() {
  if (!g_.gobjFTPUsers) return;
  const std::string path = g_.DataPath() + "Velto.usr";
  if (!g_.gobjFTPUsers->Reload()) {
    const int error = errno;
    const std::string text = "cannot read " + path + " (" + std::strerror(error) + "); the accounts stay as they were";
    std::fprintf(stderr, "velto: %s\n", text.c_str());
    ::syslog(LOG_ERR, "%s", text.c_str());
    g_.LogError(error, text, "ReloadUsers");
    return;
  }
  WarnAboutReadableUserFile();
  const std::int32_t count = g_.gobjFTPUsers->Count();
  const std::string text =
      "reloaded " + std::to_string(count) + (count == 1 ? " account" : " accounts") + " from " + path;
  std::fprintf(stderr, "velto: %s\n", text.c_str());
  ::syslog(LOG_INFO, "%s", text.c_str());
}

// The listener could not start: whoever runs the server must learn it.
void FMain::ListenerFailed(const std::string& why, std::int32_t number) {
  const std::string text = "Unable to start FTP on port " + std::to_string(g_.gnFTPPort) + ": " + why;
  g_.Feed(TimeStampText(text));
  std::fprintf(stderr, "velto: %s\n", text.c_str());
  ::syslog(LOG_ERR, "%s", text.c_str());
  g_.LogError(number, text, "ActivateFTP");
  SetListenerProblem("not listening on port " + std::to_string(g_.gnFTPPort) + ": " + why);
}

// The windows show it in the title (and the tray's tip) until the listener
// starts or is switched off.
void FMain::SetListenerProblem(std::string problem) {
  listenerProblem_ = std::move(problem);
  if (baseTitle_.empty()) return;  // the load step sets the title later
  title_ = listenerProblem_.empty() ? baseTitle_ : baseTitle_ + " - " + listenerProblem_;
  g_.ui->SetTitle(title_);
}

bool FMain::ActivateFTP() {
  if (g_.gnFTPPort < 1 || g_.gnFTPPort > 65535) {
    g_.ui->ShowAppMessage("Values port values are between 1 and 65535", kMbOk, "");
    SetListenerProblem("not listening: port " + std::to_string(g_.gnFTPPort) + " is not between 1 and 65535");
    return false;
  }
  CPortwell& pw = *g_.gobjPortwell;
  if (g_.gbFTPActive) {
    try {
      const std::string key = std::to_string(g_.gnListenSocket);
      if (pw.ItemExists(key)) pw.CloseSock(key, false);
    } catch (const PortwellError& e) {
      g_.LogError(e.Number, e.Description, "ActivateFTP");
    }
    if (g_.gnListenSocket6 != 0) {
      // A listener has nothing to drain: it goes at once (its row with it).
      g_.CloseSocket(g_.gnListenSocket6, false);
      g_.gnListenSocket6 = 0;
    }
    StopImplicitListener();
    g_.gbFTPActive = false;
    menus_.activateFTPChecked = false;
    SetListenerProblem({});
    WriteSetting(*g_.gobjIni, Setting::FTPActive, "False", true);
    return true;
  }
  try {
    if (!pw.IsActive()) pw.Activate(true);
  } catch (const PortwellError& e) {
    g_.LogError(e.Number, e.Description, "ActivateFTP");
  }
  const std::string bindAddress = g_.gnFTPBindToIP < 0 ? std::string("0.0.0.0") : pw.LocalHostIP(g_.gnFTPBindToIP);
  if (bindAddress.empty()) {
    ListenerFailed("there is no local address number " + std::to_string(g_.gnFTPBindToIP) + " (FTPBindToIP)",
                   10049);
    return false;
  }
  g_.gnListenSocket = pw.AddListener(g_.gnFTPPort, PWL_TCPIP, g_.gnFTPBindToIP, 100);
  if (g_.gnListenSocket == -1) {
    const std::int32_t e = pw.LastSockErr();
    g_.gnListenSocket = 0;
    ListenerFailed("cannot listen on " + bindAddress + " (Error# " + std::to_string(e) + ": " +
                       platform::SocketErrorText(e) + ")",
                   e);
    return false;
  }
  const std::string key = std::to_string(g_.gnListenSocket);
  pw.SetSockOption(key, PWL_SO_REUSEADDR, true);
  const auto info = pw.ItemByKey(key);
  g_.gobjConnectionEntries->pAddConnectionEntry(
      *g_.lstConnections, g_.gnListenSocket, std::to_string(UnsignedPort(pw.LocalPort(g_.gnListenSocket))),
      info.Protocol == PWL_TCPIP ? "TCP" : "UDP", pw.LocalHostIP(g_.gnFTPBindToIP < 0 ? 0 : g_.gnFTPBindToIP),
      "0.0.0.0", "0", CConnectionEntry::kListening);
  std::fprintf(stderr, "velto: listening on %s port %d\n", bindAddress.c_str(), g_.gnFTPPort);
  // IPv6 clients get a listener of their own on the same port; the IPv4
  // one serves as before when it cannot start.
  g_.gnListenSocket6 = StartListener6(g_.gnFTPPort, false);
  menus_.activateFTPChecked = true;
  g_.gbFTPActive = true;
  SetListenerProblem({});
  WriteSetting(*g_.gobjIni, Setting::FTPActive, "True", true);
  StartImplicitListener();
  return true;
}

void FMain::SetViewRealTime(bool on) {
  g_.gbViewRealTime = on;
  menus_.viewRealTimeChecked = on;
}

void FMain::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  g_.gbUnloading = true;
  trayStarter_.reset();
  if (!g_.gbAbortStart && g_.gobjIni) {
    settings_.Store(*g_.gobjIni, kUnloadSettings);
    g_.gobjIni->WriteToDisk();
  }
  if (g_.ui) g_.ui->StopTrayIcon();
  if (g_.gobjPortwell) {
    try {
      // Stopping offers what the receive queues still hold, so uploads get
      // every byte that arrived.
      g_.gobjPortwell->Activate(false);
    } catch (const PortwellError& e) {
      g_.LogError(e.Number, e.Description, "Form_Unload");
    }
    g_.gobjPortwell->SetEventSink(nullptr);
  }
  if (g_.gobjMessageQueue && g_.gobjMessageQueue->Contains(hwnd_)) g_.gobjMessageQueue->RemoveHwnd(hwnd_);
  // Release in order; the sessions write what their uploads received as
  // they go.
  g_.gobjConnectionEntries.reset();
  g_.gobjFTPSessions.reset();
  g_.worker.reset();
  g_.gobjFTPUsers.reset();
  g_.gobjAccessLog.reset();
  g_.gobjErrorLog.reset();
  g_.gobjTransferLog.reset();
  g_.gobjMessageQueue.reset();
  g_.gobjRunhost.reset();
  g_.gobjIni.reset();
  hostContext_.reset();
  g_.gobjPortwell.Reset();
}

}  // namespace velto
