// USER and PASS: how a session becomes logged on.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "ftp/logon_guard.h"
#include "ftp/replies.h"
#include "log/clog.h"
#include "log/log_lines.h"
#include "users/ftp_users.h"
#include "users/password_hash.h"

#include <algorithm>

namespace velto {

namespace {

using reply::Line;

// The longest a PASS reply waits, however many failures came before it.
constexpr std::int64_t kMaxFailureDelayMs = 30000;

}  // namespace

std::string CFTPSession::CmdUSER(const ParsedCommand& command) {
  // A new id ends the log-on: no rights until a password is accepted for it.
  SetLoggedOn(false);
  // Refused before the password is asked, so it never travels in clear.
  if (LogonNeedsTls(command.argument)) {
    UserID.clear();
    return Line(reply::kTlsRequired);
  }
  UserID = command.argument;
  return Line(reply::kNeedPassword);
}

std::string CFTPSession::CmdPASS(const ParsedCommand& command) {
  // A session that was logged on when its address was banned guesses no
  // further with a new USER.
  if (!LoggedOn() && table_.Guard().Banned(info_.clientAddress)) {
    RefuseBanned();
    return {};
  }
  // The policy may have come into force since USER (the accounts were
  // read again): the password is not checked, nor counted as a guess.
  if (LogonNeedsTls(UserID)) return Line(reply::kTlsRequired);
  CFTPUsers* users = table_.Services().users;
  if (users == nullptr) return FailedLogon();
  const bool useSystem = Options().UseNTAuthentication;
  const SessionServices& services = table_.Services();
  const bool system = users->UsesSystemLogon(UserID, useSystem);
  if (system && services.systemLogon) {
    // The system's check may take its time; it runs off the loop.
    CheckPassLater([&services, id = UserID, password = command.argument](std::function<void(bool)> done) {
      services.systemLogon(id, password, std::move(done));
    });
    return {};
  }
  if (!system && services.offLoop) {
    // A hash is slow to compare on purpose: never on the loop. The job gets
    // copies only.
    if (std::string hash = users->StoredHash(UserID); !hash.empty()) {
      CheckPassLater([&services, hash = std::move(hash), password = command.argument](std::function<void(bool)> done) {
        services.offLoop([hash, password] { return MatchesHash(password, hash); }, std::move(done));
      });
      return {};
    }
  }
  return FinishPass(users->ValidateUser(UserID, command.argument, useSystem));
}

// A client that leaves before the answer has failed.
void CFTPSession::CheckPassLater(const std::function<void(std::function<void(bool)> done)>& start) {
  Hold(false);
  passPending_ = true;
  std::weak_ptr<char> alive = alive_;
  const std::string id = UserID;
  start([this, alive, id](bool valid) {
    if (alive.expired() || closed_) return;
    passPending_ = false;
    const std::string reply = UserID == id ? FinishPass(valid) : FinishPass(false);
    if (!reply.empty()) host_->Send(reply);
    if (replyTimer_ == 0) Release();
  });
}

// While the client's address has recent failures, a right password waits
// as long as a wrong one would, and a connection closed before its answer
// counts as a failure: neither the wait nor dropping early tells them apart.
std::string CFTPSession::FinishPass(bool valid) {
  if (!valid) return FailedLogon();
  const std::int32_t recent = table_.Guard().RecentFailures(info_.clientAddress);
  const std::int64_t delay = recent > 0 ? FailureDelay(recent + 1) : 0;
  if (delay > 0 && HoldReply(delay, [this] { return CompleteLogOn(true); })) {
    passPending_ = true;
    return {};
  }
  return CompleteLogOn(false);
}

// The account's side of a log-on whose password was right. `waited`: the
// reply was already held as long as a failure's.
std::string CFTPSession::CompleteLogOn(bool waited) {
  CFTPUsers* users = table_.Services().users;
  // Without an account the log-on cannot complete (an operating-system
  // account must also be in the user file).
  CFTPUser* account = users != nullptr && users->pExists(UserID) ? &users->ItemByKey(UserID) : nullptr;
  if (account == nullptr) return FailedLogon(waited);
  // Other sessions logged on under this id, whatever its letter case.
  std::int32_t others = table_.pnGetUserCount(UserID);
  if (counted_ && SameLoggedOnId(UserID)) --others;  // this session itself, logging on again
  if (others >= 1 && !account->AllowConcurrentLogons) return Line(reply::kConcurrent);

  // Only an existing folder named by an absolute path can be a home: a
  // relative one would be read against whatever folder the program runs
  // in, and never the program's own folder.
  const std::string& home = account->DefaultDirectory;
  const bool relative = !home.empty() && home.front() != '/';
  CDirectory probe;
  if (!relative) probe.SetDefaultDirectory(home);
  if (probe.DefaultDirectory().empty()) {
    if (CLog* log = table_.Services().errorLog) {
      log->LogData(ErrorLogLine("0",
                                "Account " + account->UserID + " cannot log on: its default directory \"" + home +
                                    (relative ? "\" is not an absolute path" : "\" is not an existing directory"),
                                "PASS"));
    }
    return FailedLogon(waited);
  }
  directory_ = std::make_unique<CDirectory>();
  directory_->UseVirtualPaths = account->UseVirtualPaths;
  directory_->SetDefaultDirectory(home);
  // The view is fixed for the session: paths shown do not change meaning
  // under the client's feet.
  directory_->VirtualRoot = account->UseVirtualPaths && account->LimitToDefaultDirectory;
  // A limited account reaches the file system only below its home, opened
  // as it was set: the kernel keeps it there.
  directory_->Confined = account->LimitToDefaultDirectory;
  SetLoggedOn(true);
  StopTimer(logonTimer_);
  return Line("230 " + Options().BannerWelcome);
}

// A refused log-on: counted against the connection and its address, and
// answered only after a delay that grows with the address's recent
// failures, so guessing costs time however many connections share it.
std::string CFTPSession::FailedLogon(bool waited) {
  ++logonAttempts_;
  const CLogonGuard::Failure failure = NoteLogonFailure();
  if (failure.banBegun) {
    // The client hears the answer to its PASS, then the ban.
    SendReply(reply::kNotLoggedOn);
    EndBannedLogons();
    return {};
  }
  const bool last = logonAttempts_ >= MaxLogonAttempts();
  const std::int64_t delay = waited ? 0 : FailureDelay(failure.recent);
  if (delay > 0 && HoldReply(delay, [this, last] {
        RefuseLogon(last);
        return std::string();
      })) {
    return {};
  }
  if (!last) return Line(reply::kNotLoggedOn);
  RefuseLogon(true);
  return {};
}

std::int64_t CFTPSession::FailureDelay(std::int32_t failures) const {
  return std::min<std::int64_t>(std::int64_t{std::max(0, Options().FailedLogonDelay)} * failures, kMaxFailureDelayMs);
}

// The loop is never blocked: a timer holds the reply and the session takes
// no command meanwhile. False when no timer could be set.
bool CFTPSession::HoldReply(std::int64_t delay, std::function<std::string()> answer) {
  replyTimer_ = StartTimer(static_cast<std::uint32_t>(delay), [this, answer = std::move(answer)] {
    replyTimer_ = 0;
    if (closed_) return;
    passPending_ = false;
    const std::string reply = answer();
    if (!reply.empty() && !closed_) host_->Send(reply);
    Release();
  });
  if (replyTimer_ == 0) return false;
  Hold(false);
  return true;
}

CLogonGuard::Failure CFTPSession::NoteLogonFailure() {
  const SessionOptions& options = Options();
  const CLogonGuard::Failure failure =
      table_.Guard().NoteFailure(info_.clientAddress, options.BanFailedLogons, options.BanTime);
  if (failure.banBegun) {
    if (CLog* log = table_.Services().errorLog) {
      log->LogData(ErrorLogLine("0",
                                "Client address " + info_.clientAddress + " refused for " +
                                    std::to_string(options.BanTime / 1000) + " s after " +
                                    std::to_string(options.BanFailedLogons) + " failed log-ons",
                                "PASS"));
    }
  }
  return failure;
}

// A ban that left the connections already open to guess on would stop
// nothing.
void CFTPSession::EndBannedLogons() {
  RefuseBanned();
  table_.RefuseBanned(info_.clientAddress);
}

void CFTPSession::RefuseBanned() {
  if (closed_ || LoggedOn()) return;
  passPending_ = false;  // the ban ends the log-on, not the client
  SendReply(reply::kBanned);
  Disconnect();
}

void CFTPSession::OnLogonClosing() {
  if (!passPending_) return;
  passPending_ = false;
  if (NoteLogonFailure().banBegun) EndBannedLogons();
}

// The client always hears why; the last allowed attempt also ends the
// connection, once the reply has gone.
void CFTPSession::RefuseLogon(bool last) {
  SendReply(reply::kNotLoggedOn);
  if (last) Disconnect();
}

}  // namespace velto
