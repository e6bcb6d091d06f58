// USER and PASS: how a session becomes logged on.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "ftp/replies.h"
#include "log/clog.h"
#include "log/log_lines.h"
#include "users/ftp_users.h"

#include <algorithm>

namespace velto {

namespace {

using reply::Line;

// The longest a failed password waits for its answer, however many came
// before it.
constexpr std::int64_t kMaxFailureDelayMs = 30000;

}  // namespace

std::string CFTPSession::CmdUSER(const ParsedCommand& command) {
  // A new id ends the log-on: no rights until a password is accepted for it.
  SetLoggedOn(false);
  UserID = command.argument;
  return Line(reply::kNeedPassword);
}

std::string CFTPSession::CmdPASS(const ParsedCommand& command) {
  CFTPUsers* users = table_.Services().users;
  if (users == nullptr) return FailedLogon();
  const bool useSystem = Options().UseNTAuthentication;
  if (users->UsesSystemLogon(UserID, useSystem) && table_.Services().systemLogon) {
    // The system's check may take its time; it runs off the loop and the
    // session takes no command meanwhile.
    Hold();
    std::weak_ptr<char> alive = alive_;
    const std::string id = UserID;
    table_.Services().systemLogon(UserID, command.argument, [this, alive, id](bool valid) {
      if (alive.expired() || closed_) return;
      const std::string reply = UserID == id ? FinishPass(valid) : FinishPass(false);
      if (!reply.empty()) host_->Send(reply);
      if (replyTimer_ == 0) Release();
    });
    return {};
  }
  return FinishPass(users->ValidateUser(UserID, command.argument, useSystem));
}

std::string CFTPSession::FinishPass(bool valid) {
  CFTPUsers* users = table_.Services().users;
  // Without an account the log-on cannot complete (an operating-system
  // account must also be in the user file).
  CFTPUser* account = valid && users != nullptr && users->pExists(UserID) ? &users->ItemByKey(UserID) : nullptr;
  if (account == nullptr) return FailedLogon();
  // Other sessions logged on under this id, whatever its letter case.
  std::int32_t others = table_.pnGetUserCount(UserID);
  if (counted_ && SameLoggedOnId(UserID)) --others;  // this session itself, logging on again
  if (others >= 1 && !account->AllowConcurrentLogons) return Line(reply::kConcurrent);

  // Only an existing folder can be a home: never the program's own.
  CDirectory probe;
  probe.SetDefaultDirectory(account->DefaultDirectory);
  if (probe.DefaultDirectory().empty()) {
    if (CLog* log = table_.Services().errorLog) {
      log->LogData(ErrorLogLine("0",
                                "Account " + account->UserID + " cannot log on: its default directory \"" +
                                    account->DefaultDirectory + "\" is not an existing directory",
                                "PASS"));
    }
    return FailedLogon();
  }
  directory_ = std::make_unique<CDirectory>();
  directory_->UseVirtualPaths = account->UseVirtualPaths;
  directory_->SetDefaultDirectory(account->DefaultDirectory);
  // The view is fixed for the session: paths shown do not change meaning
  // under the client's feet.
  directory_->VirtualRoot = account->UseVirtualPaths && account->LimitToDefaultDirectory;
  SetLoggedOn(true);
  StopTimer(logonTimer_);
  return Line("230 " + Options().BannerWelcome);
}

// A refused log-on: counted against the connection and its address, and
// answered only after a delay that grows with each failure, so guessing
// costs time. The loop is never blocked: a timer holds the reply and the
// session takes no command meanwhile.
std::string CFTPSession::FailedLogon() {
  ++logonAttempts_;
  ++failedPasswords_;
  const SessionOptions& options = Options();
  if (table_.Guard().NoteFailure(info_.clientAddress, options.BanFailedLogons, options.BanTime)) {
    if (CLog* log = table_.Services().errorLog) {
      log->LogData(ErrorLogLine("0",
                                "Client address " + info_.clientAddress + " refused for " +
                                    std::to_string(options.BanTime / 1000) + " s after " +
                                    std::to_string(options.BanFailedLogons) + " failed log-ons",
                                "PASS"));
    }
  }
  const bool last = logonAttempts_ >= MaxLogonAttempts();
  const std::int64_t delay =
      std::min<std::int64_t>(std::int64_t{std::max(0, options.FailedLogonDelay)} * failedPasswords_, kMaxFailureDelayMs);
  if (delay > 0) {
    Hold();
    replyTimer_ = StartTimer(static_cast<std::uint32_t>(delay), [this, last] {
      replyTimer_ = 0;
      if (closed_) return;
      RefuseLogon(last);
      Release();
    });
    if (replyTimer_ != 0) return {};
    Release();
  }
  if (!last) return Line(reply::kNotLoggedOn);
  RefuseLogon(true);
  return {};
}

// The client always hears why; the last allowed attempt also ends the
// connection, once the reply has gone.
void CFTPSession::RefuseLogon(bool last) {
  SendReply(reply::kNotLoggedOn);
  if (last) Disconnect();
}

}  // namespace velto
