// The table of live FTP sessions, keyed by the control socket handle, with
// the server-wide FTP options the sessions read and the idle sweep.
//
// Every event looks a session up, and a busy server holds thousands (a
// closed connection keeps its session for the linger time), so the lookups
// are indexed: by key, by data connection, by outgoing connect, and the
// count of logged-on sessions per account id.
#pragma once

#include "ftp/ftp_session.h"

#include "platform/event_loop.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velto {

struct MGlobal;

class CFTPSessions {
 public:
  CFTPSessions(MGlobal& globals, platform::EventLoop& loop);
  ~CFTPSessions();
  CFTPSessions(const CFTPSessions&) = delete;
  CFTPSessions& operator=(const CFTPSessions&) = delete;

  // Options.
  std::string BannerWelcome;
  std::string BannerExit = "Goodbye.";
  std::string BannerMaxUsers = "Maximum connections reached.";
  std::string MaxLogonAttempts = "3";
  bool AllowAnonymousLogons = false;
  bool UseNTAuthentication = false;
  std::int32_t HwndMain = 0;
  std::int32_t Timeout = 600000;
  std::int32_t MaxUsers = 10;

  // Adds a session under `SocketHandle`; a key already present throws
  // std::invalid_argument.
  void pAddFTPSession(const std::string& SocketHandle, const std::string& vsDefaultDirectory);
  // Sessions logged on as `vsUserID` (letter case ignored, as account ids).
  std::int32_t pnGetUserCount(const std::string& vsUserID) const;
  bool pExists(const std::string& vsItemKey) const;
  bool pExistsBySocketHandleData(const std::string& SocketHandleData) const;
  void pDeleteByIndex(std::int32_t vnIndex);
  void pDeleteByKey(const std::string& vsKey);
  std::int32_t Count() const { return static_cast<std::int32_t>(sessions_.size()); }
  // Sessions whose client has closed its control connection; they stay in
  // the table until the connection's graceful close ends, but no longer
  // take a place under MaxUsers.
  void pMarkClosing(const std::string& vsKey);
  std::int32_t ClosingCount() const { return static_cast<std::int32_t>(closing_.size()); }
  std::int32_t OpenCount() const { return Count() - ClosingCount(); }
  CFTPSession& ItemByKey(const std::string& vsKey);
  CFTPSession* ItemBySocketHandleData(std::int32_t SocketHandleData);
  // The session making an outgoing data connection on `handle`, or nullptr.
  CFTPSession* ItemByPendingConnect(std::int32_t handle);
  CFTPSession& ItemByIndex(std::int32_t vnKey);

  // The sweep's period while armed (0 = off): tests.
  std::uint32_t SweepPeriod() const { return timerPeriod_; }
  void IdleSweep();

  // Kept current by the sessions.
  void NoteLoggedOn(const std::string& lowerId, bool on);
  void NoteDataHandle(CFTPSession* session, std::int32_t before, std::int32_t now);
  void NotePendingConnect(CFTPSession* session, std::int32_t before, std::int32_t now);

 private:
  void ArmTimer();
  void Retire(std::size_t position);

  MGlobal& globals_;
  platform::EventLoop& loop_;
  std::vector<std::unique_ptr<CFTPSession>> sessions_;  // table order
  std::unordered_map<std::string, CFTPSession*> byKey_;
  std::unordered_map<std::int32_t, CFTPSession*> byData_;
  std::unordered_map<std::int32_t, CFTPSession*> byConnect_;
  std::unordered_map<std::string, std::int32_t> loggedOn_;
  std::unordered_set<const CFTPSession*> closing_;
  // Removed sessions live on until the current event is handled: a session
  // that closes its own connection is removed while its code still runs.
  std::vector<std::unique_ptr<CFTPSession>> retired_;
  platform::TargetHandle reaper_ = 0;
  platform::TimerId timer_ = 0;
  std::uint32_t timerPeriod_ = 0;
};

}  // namespace velto
