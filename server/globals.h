// The program-wide objects and settings, one instance each, created by the
// start routine and the main window's load step and released by its unload
// step in a fixed order.
#pragma once

#include "admin/connection_entries.h"
#include "admin/list_control.h"
#include "portwell/portwell.h"
#include "config/ini.h"
#include "log/clog.h"
#include "log/transfer_log.h"
#include "platform/worker.h"
#include "server/message_queue.h"
#include "server/runhost.h"
#include "server/user_interface.h"
#include "users/ftp_users.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velto {

class CFTPSession;
class CFTPSessions;

struct MGlobal {
  explicit MGlobal(platform::EventLoop& eventLoop);
  ~MGlobal();
  MGlobal(const MGlobal&) = delete;
  MGlobal& operator=(const MGlobal&) = delete;

  platform::EventLoop& loop;

  std::unique_ptr<CRunhost> gobjRunhost;
  std::string gsAppPath;  // the executable's folder, ending in "/"
  // Where the data (Velto.ini, Velto.usr, Velto.pid) and the logs are kept,
  // ending in "/"; empty: the executable's folder.
  std::string gsDataPath;
  std::string gsLogPath;
  const std::string& DataPath() const { return gsDataPath.empty() ? gsAppPath : gsDataPath; }
  const std::string& LogPath() const { return gsLogPath.empty() ? DataPath() : gsLogPath; }
  bool gbRunningAsService = false;
  bool gbAbortStart = false;
  bool gbUnloading = false;

  PortwellInstance gobjPortwell;
  std::unique_ptr<CFTPSessions> gobjFTPSessions;
  std::unique_ptr<CConnectionEntries> gobjConnectionEntries;
  std::unique_ptr<CFTPUsers> gobjFTPUsers;
  std::unique_ptr<CLog> gobjAccessLog;
  std::unique_ptr<CLog> gobjErrorLog;
  std::unique_ptr<CTransferLog> gobjTransferLog;  // TransferLogFile (closed: none)
  std::unique_ptr<CMessageQueue> gobjMessageQueue;
  std::unique_ptr<CIni> gobjIni;
  // The one thread besides the loop: the system's password check.
  std::unique_ptr<platform::BackgroundWorker> worker;

  std::string gsSupportOnlineURL;
  std::int32_t gnFTPPort = 21;
  std::int32_t gnFTPBindToIP = 0;
  std::int32_t gnListenSocket = 0;
  // FTPBindToIPv6 as written (empty: no IPv6 listener), and the IPv6
  // listeners that follow the FTP listener and the implicit-TLS one.
  std::string gsFTPBindToIPv6;
  std::int32_t gnListenSocket6 = 0;
  std::int32_t gnImplicitListenSocket6 = 0;
  // The passive port range as the settings give it (0, 0: none), and
  // PassiveAddress as written (the sessions get what it resolves to).
  std::int32_t gnPassivePortMin = 0;
  std::int32_t gnPassivePortMax = 0;
  std::string gsPassiveAddress;
  // FTPS: the credential files as the settings name them (read at start;
  // SIGHUP loads them again), and the implicit-TLS listener (port 0: none).
  std::string gsTLSCertificateFile;
  std::string gsTLSKeyFile;
  std::int32_t gnImplicitTLSPort = 0;
  std::int32_t gnImplicitListenSocket = 0;
  bool gbFTPActive = false;
  bool gbUseBuffersToSend = false;
  bool gbUseBuffersToReceive = false;
  bool gbViewRealTime = false;
  bool gbHideIcon = false;
  bool gbActiveUsersOpen = false;

  // Display-free parts of the windows; the views attach to them.
  IUserInterface* ui = nullptr;              // borrowed
  std::unique_ptr<IListControl> lstConnections;
  // Start-up's offer to import the computer's accounts, accepted (set by
  // the desktop front end; empty: nothing to run).
  std::function<void()> importAccounts;
  // A session's activity text for its window (empty text: cleared).
  std::function<void(CFTPSession&, std::string_view)> onActivity;

  // The real-time activity feed: `line` goes to the diagnostics log pane
  // when the feed is on (as given; stamp it first where the line wants it).
  void Feed(const std::string& line);
  // The diagnostics window's connection counter (kept while the feed is on).
  void ConnectionOpened();
  void ConnectionClosed();
  // The windows that listen to the feed (set by the facade).
  std::function<void(const std::string&)> onFeed;
  std::function<void(bool opened)> onConnectionCount;
  // Sends text on a socket; a failure is written to the error log.
  void SendText(std::int32_t handle, const std::string& text, const char* context);
  // Closes a socket (lingering or at once); failures are logged.
  void CloseSocket(std::int32_t handle, bool linger);
  // One error-log line (number, description, context).
  void LogError(std::int64_t number, const std::string& description, const std::string& context);
  // What whoever runs the server must learn: standard error and syslog at
  // `priority` (LOG_ERR, LOG_INFO, ...); a warning or worse goes into
  // Errors.log too.
  void Report(int priority, const std::string& text, std::int64_t number, const std::string& context);
  // The server's local address as the access log and PASV show it (an
  // IPv4 client's; an IPv6 client's is the address it reached).
  std::string ServerAddress() const;
  // The address FTPBindToIPv6 names ("::" for "-1"), empty for none.
  std::string FTPBindAddress6() const;
  // Whether `listener` is one of the FTP listeners, or one of the
  // implicit-TLS ones.
  bool IsFTPListener(std::int32_t listener) const {
    return listener != 0 && (listener == gnListenSocket || listener == gnListenSocket6);
  }
  bool IsImplicitListener(std::int32_t listener) const {
    return listener != 0 && (listener == gnImplicitListenSocket || listener == gnImplicitListenSocket6);
  }
};

}  // namespace velto
