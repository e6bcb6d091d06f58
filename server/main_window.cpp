#include "server/main_window.h"

#include "ftp/ftp_sessions.h"
#include "platform/system_logon.h"
#include "platform/winsock_errors.h"
#include "config/settings.h"
#include "log/log_lines.h"

#include <cstdio>

namespace velto {

namespace {

constexpr const char* kComponentFile = "libportwell.so";

std::string LibraryMissingText() {
  return std::string("There was error initializing the ") + kComponentFile +
         ".  Please ensure that the correct version of this dll is present and registered.";
}

}  // namespace

FMain::FMain(MGlobal& globals) : g_(globals) {
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

void FMain::Load() {
  // 1-2: the socket component.
  if (!CreateComponent()) {
    g_.gbAbortStart = true;
    return;
  }
  // 3: the program-wide objects, in order.
  g_.gobjFTPSessions = std::make_unique<CFTPSessions>(g_, g_.loop);
  g_.gobjConnectionEntries = std::make_unique<CConnectionEntries>();
  g_.gobjMessageQueue = std::make_unique<CMessageQueue>(g_.loop);
  g_.gobjFTPUsers = std::make_unique<CFTPUsers>();
  g_.gobjAccessLog = std::make_unique<CLog>();
  g_.gobjErrorLog = std::make_unique<CLog>();
  g_.gobjIni = std::make_unique<CIni>();
  if (!g_.lstConnections) g_.lstConnections = std::make_unique<MemoryListControl>();
  if (!g_.diagnostics) {
    g_.diagnostics = std::make_unique<DiagnosticsModel>([this] { return g_.gbViewRealTime; });
  }

  // 4: the settings file.
  g_.gobjIni->SetFileName(g_.gsAppPath + "Velto.ini");
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
  try {
    g_.gobjMessageQueue->AddHwnd(hwnd_);
  } catch (const std::exception&) {
  }
  g_.gobjFTPUsers->SetDataFile(g_.gsAppPath + "Velto.usr");
  g_.gobjAccessLog->SetLogFile(g_.gsAppPath + "Access.log");
  g_.gobjErrorLog->SetLogFile(g_.gsAppPath + "Errors.log");

  // 10: the account import needs a desktop to choose from; headless it is
  // declined, and the question is not asked again.
  bool showImport = false;
  ReadSetting(ini, Setting::ShowCreateNTUserList, showImport);
  if (showImport) {
    g_.ui->ShowAppMessage(
        "Welcome to Velto!  Would you like choose users to add from an existing NT Domain, Server, or workstation "
        "(it may take a few seconds)?",
        kMbYesNo, "Welcome");
    WriteSetting(*g_.gobjIni, Setting::ShowCreateNTUserList, "False", true);
  }
  // 11.
  menus_.importNTUsersEnabled = g_.gnWinVersion >= 2;
  // 12.
  bool hideSplash = false;
  ReadSetting(ini, Setting::HideSplashScreen, hideSplash);
  if (!hideSplash) g_.ui->SplashStatus("Loading Settings...");

  // 13-16.
  std::int32_t chunk = 0;
  if (ReadSetting(ini, Setting::ChunkSize, chunk)) g_.gobjPortwell->SetChunkSize(chunk);
  std::int16_t interval = 0;
  try {
    if (ReadSetting(ini, Setting::ProcessingIntervalToSend, interval)) {
      g_.gobjPortwell->SetProcessingIntervalToSend(interval);
    }
    if (ReadSetting(ini, Setting::ProcessingIntervalReceive, interval)) {
      g_.gobjPortwell->SetProcessingIntervalReceive(interval);
    }
  } catch (const PortwellError& e) {
    g_.LogError(e.Number, e.Description, "");
  }
  ReadSetting(ini, Setting::UseBuffersToSend, g_.gbUseBuffersToSend);
  ReadSetting(ini, Setting::UseBuffersToReceive, g_.gbUseBuffersToReceive);
  ReadSetting(ini, Setting::HideIcon, g_.gbHideIcon);
  ReadSetting(ini, Setting::ViewRealTime, g_.gbViewRealTime);
  menus_.viewRealTimeChecked = g_.gbViewRealTime;
  bool ftpActive = false;
  ReadSetting(ini, Setting::FTPActive, ftpActive);
  ReadSetting(ini, Setting::FTPPort, g_.gnFTPPort);
  ReadSetting(ini, Setting::FTPBindToIP, g_.gnFTPBindToIP);

  // 17.
  if (ftpActive) ActivateFTP();

  // 18.
  CFTPSessions& sessions = *g_.gobjFTPSessions;
  ReadSetting(ini, Setting::MaxUsers, sessions.MaxUsers);
  sessions.MaxLogonAttempts = ReadSettingText(ini, Setting::MaxLogonAttempts);
  sessions.BannerWelcome = ReadSettingText(ini, Setting::BannerWelcome);
  sessions.BannerExit = ReadSettingText(ini, Setting::BannerExit);
  sessions.BannerMaxUsers = ReadSettingText(ini, Setting::BannerMaxUsers);
  ReadSetting(ini, Setting::AllowAnonymousLogons, sessions.AllowAnonymousLogons);
  ReadSetting(ini, Setting::UseNTAuthentication, sessions.UseNTAuthentication);
  ReadSetting(ini, Setting::Timeout, sessions.Timeout);

  // 19-20.
  g_.gobjFTPUsers->IsRunningAsService = g_.gobjRunhost && g_.gobjRunhost->IsRunningAsService();
  g_.gobjFTPUsers->WinVersion = g_.gobjRunhost ? g_.gobjRunhost->WinVersion : 2;
  g_.gobjFTPUsers->SetSystemLogonCheck(&platform::SystemLogonCheck);
  g_.gobjFTPUsers->SetAnonymousSwitch([this] { return g_.gobjFTPSessions && g_.gobjFTPSessions->AllowAnonymousLogons; });
  sessions.HwndMain = hwnd_;

  // 21: the title.
  std::string addresses;
  for (const auto& address : g_.gobjPortwell->LocalHostIP()) addresses += "[" + address + "] ";
  std::string title = "Velto - [" + g_.gobjPortwell->LocalHostName() + "] " + addresses;
  while (!title.empty() && title.back() == ' ') title.pop_back();
  title_ = title;
  g_.ui->SetTitle(title_);

  // 23-24: the tray icon.
  if (!g_.gbRunningAsService || !g_.gbHideIcon) g_.ui->StartTrayIcon();
  // 25.
  if (!hideSplash) g_.ui->SplashStatus("Initializing Network Services...");
}

void FMain::ActivateFTP() {
  if (g_.gnFTPPort < 1 || g_.gnFTPPort > 65535) {
    g_.ui->ShowAppMessage("Values port values are between 1 and 65535", kMbOk, "");
    return;
  }
  CPortwell& pw = *g_.gobjPortwell;
  if (g_.gbFTPActive) {
    try {
      const std::string key = std::to_string(g_.gnListenSocket);
      if (pw.ItemExists(key)) pw.CloseSock(key, false);
    } catch (const PortwellError& e) {
      g_.LogError(e.Number, e.Description, "ActivateFTP");
    }
    g_.gbFTPActive = false;
    menus_.activateFTPChecked = false;
    WriteSetting(*g_.gobjIni, Setting::FTPActive, "False", true);
    return;
  }
  try {
    if (!pw.IsActive()) pw.Activate(true);
  } catch (const PortwellError& e) {
    g_.LogError(e.Number, e.Description, "ActivateFTP");
  }
  g_.gnListenSocket = pw.AddListener(g_.gnFTPPort, PWL_TCPIP, g_.gnFTPBindToIP, 100);
  if (g_.gnListenSocket == -1) {
    const std::int32_t e = pw.LastSockErr();
    g_.Feed(TimeStampText("Unable to start FTP on port " + std::to_string(g_.gnFTPPort) + " (Error# " +
                          std::to_string(e) + ": " + platform::SocketErrorText(e) + ")"));
    return;
  }
  const std::string key = std::to_string(g_.gnListenSocket);
  pw.SetSockOption(key, PWL_SO_REUSEADDR, true);
  const auto info = pw.ItemByKey(key);
  g_.gobjConnectionEntries->pAddConnectionEntry(
      *g_.lstConnections, g_.gnListenSocket, std::to_string(UnsignedPort(pw.LocalPort(g_.gnListenSocket))),
      info.Protocol == PWL_TCPIP ? "TCP" : "UDP", pw.LocalHostIP(g_.gnFTPBindToIP < 0 ? 0 : g_.gnFTPBindToIP),
      "0.0.0.0", "0", "Listening");
  menus_.activateFTPChecked = true;
  g_.gbFTPActive = true;
  WriteSetting(*g_.gobjIni, Setting::FTPActive, "True", true);
}

void FMain::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  g_.gbUnloading = true;
  if (!g_.gbAbortStart && g_.gobjIni) {
    CIni& ini = *g_.gobjIni;
    CPortwell* pw = g_.gobjPortwell.get();
    CFTPSessions* s = g_.gobjFTPSessions.get();
    if (pw) {
      WriteSetting(ini, Setting::ProcessingIntervalToSend, std::to_string(pw->ProcessingIntervalToSend()));
      WriteSetting(ini, Setting::ProcessingIntervalReceive, std::to_string(pw->ProcessingIntervalReceive()));
    }
    WriteSetting(ini, Setting::UseBuffersToReceive, BoolText(g_.gbUseBuffersToReceive));
    WriteSetting(ini, Setting::UseBuffersToSend, BoolText(g_.gbUseBuffersToSend));
    WriteSetting(ini, Setting::ViewRealTime, BoolText(g_.gbViewRealTime));
    WriteSetting(ini, Setting::FTPPort, std::to_string(g_.gnFTPPort));
    if (s) {
      WriteSetting(ini, Setting::MaxUsers, std::to_string(s->MaxUsers));
      WriteSetting(ini, Setting::MaxLogonAttempts, s->MaxLogonAttempts);
      WriteSetting(ini, Setting::BannerWelcome, s->BannerWelcome);
      WriteSetting(ini, Setting::BannerExit, s->BannerExit);
      WriteSetting(ini, Setting::BannerMaxUsers, s->BannerMaxUsers);
      WriteSetting(ini, Setting::AllowAnonymousLogons, BoolText(s->AllowAnonymousLogons));
      WriteSetting(ini, Setting::UseNTAuthentication, BoolText(s->UseNTAuthentication));
      WriteSetting(ini, Setting::Timeout, std::to_string(s->Timeout));
    }
    WriteSetting(ini, Setting::FTPBindToIP, std::to_string(g_.gnFTPBindToIP));
    ini.WriteToDisk();
  }
  if (g_.ui) g_.ui->StopTrayIcon();
  if (g_.gobjPortwell) {
    try {
      g_.gobjPortwell->Activate(false);
    } catch (const PortwellError& e) {
      g_.LogError(e.Number, e.Description, "Form_Unload");
    }
    g_.gobjPortwell->SetEventSink(nullptr);
  }
  if (g_.gobjMessageQueue && g_.gobjMessageQueue->Contains(hwnd_)) g_.gobjMessageQueue->RemoveHwnd(hwnd_);
  // Release in order.
  g_.gobjConnectionEntries.reset();
  g_.gobjFTPSessions.reset();
  g_.gobjFTPUsers.reset();
  g_.gobjAccessLog.reset();
  g_.gobjErrorLog.reset();
  g_.gobjMessageQueue.reset();
  g_.gobjRunhost.reset();
  g_.gobjIni.reset();
  g_.gobjPortwell.Reset();
}

}  // namespace velto
