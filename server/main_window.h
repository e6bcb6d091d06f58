// The main window without its view: the load and unload steps, the listener
// toggle, and the handlers of the socket component's seven events that route
// network activity to the FTP sessions.
#pragma once

#include "portwell/portwell.h"
#include "server/globals.h"
#include "server/live_settings.h"
#include "server/session_link.h"
#include "server/tray_starter.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velto {

class CFTPSession;

// Check marks and enabled states of the menus, for the view to show.
struct MainMenuState {
  bool activateFTPChecked = false;    // mnuSActivateFTP / mnuPActivateFTP
  bool viewRealTimeChecked = false;   // mnuOViewRealTime
  bool importNTUsersEnabled = false;  // mnuOImportNTUsers
};

// What happened to which session (its control handle as text).
struct SessionChange {
  enum class Kind {
    kAdded,    // a client connected
    kLogon,    // logged on or off
    kClosing,  // its control connection is closing
    kEnded,    // removed from the table
  };
  Kind kind;
  std::string key;
};

class FMain final : public IPortwellEvents {
 public:
  explicit FMain(MGlobal& globals);
  ~FMain() override;
  FMain(const FMain&) = delete;
  FMain& operator=(const FMain&) = delete;

  // The load step; sets gbAbortStart when the program cannot run.
  void Load();
  // The unload step (runs once).
  void Unload();
  // Starts or stops the FTP listener; false when starting failed.
  bool ActivateFTP();
  // Why the listener that was to start did not (empty while it listens,
  // or is off by choice); the title says so too.
  const std::string& ListenerProblem() const { return listenerProblem_; }
  // Reads Velto.usr again (SIGHUP). Logged-on sessions stay logged on and
  // look their account up by id on each command: they get its new rights,
  // and none once it is gone. New log-ons check the new file.
  void ReloadUsers();
  // FTPS: reads the credential files the settings name into the component
  // (at start; SIGHUP again, when a failure keeps the ones in force) and
  // starts the implicit-TLS listener they make possible.
  void LoadTlsCredentials(bool reload);
  // The transfer log TransferLogFile names: opened at start, opened anew on
  // SIGHUP (after a rotation); a failure is an error-log line and no log.
  void OpenTransferLog(bool reopen);
  // Access.log, Errors.log and the transfer log opened anew at their paths
  // (SIGHUP, after a rotation); one that cannot be keeps its old file.
  void ReopenLogs();
  // PassiveAddress into the sessions' options: a literal at once, a name
  // resolved on the worker (at start; SIGHUP again), the old value staying
  // while that runs and when it fails.
  void ResolvePassiveAddress(bool reload);

  std::int32_t Hwnd() const { return hwnd_; }
  const std::string& Title() const { return title_; }
  const MainMenuState& Menus() const { return menus_; }
  bool Unloaded() const { return unloaded_; }
  LiveSettings& Settings() { return settings_; }
  // The real-time feed switch and its menu check mark.
  void SetViewRealTime(bool on);
  // In service mode the tray icon is retried until it shows.
  bool TrayRetryArmed() const { return trayStarter_ && trayStarter_->Armed(); }

  // Told after the session table changed (the windows refresh; empty:
  // nobody listens).
  std::function<void(const SessionChange&)> onSessionsChanged;

  static std::int32_t UnsignedPort(std::int32_t port) { return port < 0 ? port + 65536 : port; }
  static std::string SockStateText(std::int32_t state);
  // The line a client refused at MaxUsers gets: a 421 reply with the
  // banner, unless the banner already is a reply.
  static std::string BannerLine(const std::string& banner);

  // Socket component events.
  void DataArrival(std::int32_t SocketHandle, PortwellData& Data, bool& Retrieved) override;
  void ConnectionStatus(std::int32_t SocketHandle, PWL_SOCK_STATE SockState) override;
  void ConnectionRequest(std::int32_t SocketHandle, bool& Accept) override;
  void ConnectionEstablished(std::int32_t SocketHandle) override;
  void ConnectionTerminated(std::int32_t SocketHandle) override;
  void EmptySendQue(std::int32_t SocketHandle, const std::string& EventID) override;
  void Error(std::int32_t SocketHandle, std::int32_t ErrorNum) override;
  void TlsEstablished(std::int32_t SocketHandle, bool Resumed) override;
  void TlsFailed(std::int32_t SocketHandle, const std::string& Reason) override;

  // The work of ConnectionTerminated.
  void gConnectionTerminated(const std::string& handleText, IListControl& list);

 private:
  bool CreateComponent();
  void CreateSessionTable();
  void WarnAboutReadableUserFile();
  void AddListEntry(std::int32_t handle, std::int32_t addressIndex, bool accepted);
  CFTPSession* ControlSession(std::int32_t handle);
  void Refuse(std::int32_t handle, const std::string& text, bool& Accept);
  void ListenerFailed(const std::string& why, std::int32_t number);
  // The implicit-TLS listener follows the FTP listener (server/tls_setup.cpp).
  void StartImplicitListener();
  void StopImplicitListener();
  // The IPv6 listeners FTPBindToIPv6 asks for, beside the IPv4 ones
  // (server/network_setup.cpp): a handle, or 0 when it could not start
  // (reported).
  std::int32_t StartListener6(std::int32_t port, bool implicitTls);
  // The passive port range from the settings (an invalid pair reported).
  void ApplyPassivePorts();
  void SetListenerProblem(std::string problem);
  void NotifySessionsChanged(SessionChange::Kind kind, const std::string& key) {
    if (onSessionsChanged) onSessionsChanged(SessionChange{kind, key});
  }

  MGlobal& g_;
  LiveSettings settings_;
  SessionRoutes routes_;
  std::unique_ptr<HostContext> hostContext_;
  std::int32_t hwnd_ = 0;
  std::string title_;
  std::string baseTitle_;  // the title without the listener's problem
  std::string listenerProblem_;
  MainMenuState menus_;
  std::unique_ptr<TrayStarter> trayStarter_;
  bool unloaded_ = false;
};

}  // namespace velto
