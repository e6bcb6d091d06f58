// The table of live FTP sessions, keyed by the control socket handle, with
// the server-wide FTP options the sessions read, the services they use
// (accounts, logs, the system's password check) and the idle sweep.
//
// Every event looks a session up, and a busy server holds thousands (a
// closed connection keeps its session for the linger time), so lookups by
// key, the count of logged-on sessions per account id and the count of
// connections per client address are indexed.
#pragma once

#include "ftp/ftp_session.h"
#include "ftp/logon_guard.h"
#include "ftp/session_options.h"
#include "platform/event_loop.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velto {

class CFTPUsers;
class CLog;
class CTransferLog;

// What the sessions use and do not own.
struct SessionServices {
  CFTPUsers* users = nullptr;
  CLog* accessLog = nullptr;
  CLog* errorLog = nullptr;
  // One line per finished or broken-off RETR, STOR, STOU and APPE (none: no log).
  CTransferLog* transferLog = nullptr;
  // The operating system's password check, run off the event loop; `done`
  // runs on the loop. Empty: the check runs in place.
  std::function<void(const std::string& user, const std::string& password, std::function<void(bool)> done)>
      systemLogon;
  // Runs `job` off the event loop (the same worker), `done(result)` later on
  // the loop: for the password hash comparison, which takes tens of
  // milliseconds by design. Empty: the job runs in place.
  std::function<void(std::function<bool()> job, std::function<void(bool)> done)> offLoop;
  // A line for the real-time activity feed (when it is on).
  std::function<void(const std::string&)> feed;
  // A session's activity text (empty text: its window is cleared), and the
  // change of a session's log-on, for the monitoring windows.
  std::function<void(CFTPSession&, std::string_view)> activity;
  std::function<void(CFTPSession&)> logonChanged;
};

class CFTPSessions : public SessionOptions {
 public:
  CFTPSessions(platform::EventLoop& loop, SessionServices services = {});
  ~CFTPSessions();
  CFTPSessions(const CFTPSessions&) = delete;
  CFTPSessions& operator=(const CFTPSessions&) = delete;

  const SessionServices& Services() const { return services_; }
  SessionServices& Services() { return services_; }
  const SessionOptions& Options() const { return *this; }
  CLogonGuard& Guard() { return guard_; }

  // Adds a session under `SocketHandle`; a key already present throws
  // std::invalid_argument.
  CFTPSession& pAddFTPSession(const std::string& SocketHandle, std::unique_ptr<ISessionHost> host,
                              ConnectionInfo info);
  // Sessions logged on as `vsUserID` (letter case ignored, as account ids),
  // not counting those whose control connection is closing.
  std::int32_t pnGetUserCount(const std::string& vsUserID) const;
  bool pExists(const std::string& vsItemKey) const;
  void pDeleteByIndex(std::int32_t vnIndex);
  void pDeleteByKey(const std::string& vsKey);
  std::int32_t Count() const { return static_cast<std::int32_t>(sessions_.size()); }
  // Sessions whose control connection is closing (by either side); they
  // stay in the table until the close has run, but no longer take a place
  // under MaxUsers, count as a log-on or as a connection of their address.
  void pMarkClosing(const std::string& vsKey);
  std::int32_t ClosingCount() const { return static_cast<std::int32_t>(closing_.size()); }
  std::int32_t OpenCount() const { return Count() - ClosingCount(); }
  // Open sessions from one client address.
  std::int32_t OpenCountFrom(const std::string& address) const;
  // The address was banned: its open sessions not logged on get the ban
  // reply and are closed.
  void RefuseBanned(const std::string& address);
  CFTPSession& ItemByKey(const std::string& vsKey);
  CFTPSession& ItemByIndex(std::int32_t vnKey);

  // The sweep's period while armed (0 = off): tests.
  std::uint32_t SweepPeriod() const { return timerPeriod_; }
  void IdleSweep();
  // Arms or disarms the sweep after a change of Timeout.
  void ArmTimer();

  // Kept current by the sessions.
  void NoteLoggedOn(CFTPSession& session, bool on);
  void NoteClosing(CFTPSession& session);

 private:
  using List = std::list<std::unique_ptr<CFTPSession>>;
  void Retire(List::iterator position);
  void Count(CFTPSession& session, bool on);

  platform::EventLoop& loop_;
  SessionServices services_;
  CLogonGuard guard_;
  List sessions_;  // table order; removal in constant time
  std::unordered_map<std::string, List::iterator> byKey_;
  std::unordered_map<std::string, std::int32_t> loggedOn_;
  std::unordered_map<std::string, std::int32_t> byAddress_;
  std::unordered_set<const CFTPSession*> closing_;
  // Removed sessions live on until the current event is handled: a session
  // that closes its own connection is removed while its code still runs.
  std::vector<std::unique_ptr<CFTPSession>> retired_;
  platform::TargetHandle reaper_ = 0;
  platform::TimerId timer_ = 0;
  std::uint32_t timerPeriod_ = 0;
};

}  // namespace velto
