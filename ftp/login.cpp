// USER and PASS: how a session becomes logged on.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "ftp/replies.h"
#include "server/globals.h"

namespace velto {

using reply::Line;

std::string CFTPSession::CmdUSER(const ParsedCommand& command) {
  UserID = command.argument;
  return Line(reply::kNeedPassword);
}

std::string CFTPSession::CmdPASS(const ParsedCommand& command) {
  CFTPSessions& sessions = *g_.gobjFTPSessions;
  const bool valid = g_.gobjFTPUsers->ValidateUser(UserID, command.argument, sessions.UseNTAuthentication);
  if (!valid) {
    ++logonAttempts_;
    if (logonAttempts_ >= MaxLogonAttempts()) {
      Disconnect();
      return {};
    }
    return Line(reply::kNotLoggedOn);
  }
  // Without an account the log-on cannot complete (an operating-system
  // account must also be in the user file).
  CFTPUser* account = Account();
  if (account == nullptr) {
    ++logonAttempts_;
    if (logonAttempts_ >= MaxLogonAttempts()) {
      Disconnect();
      return {};
    }
    return Line(reply::kNotLoggedOn);
  }
  // Other sessions logged on under this id, whatever its letter case.
  std::int32_t others = sessions.pnGetUserCount(UserID);
  if (LoggedOn() && SameLoggedOnId(UserID)) --others;  // this session itself, logging on again
  if (others >= 1 && !account->AllowConcurrentLogons) return Line(reply::kConcurrent);

  directory_->UseVirtualPaths = account->UseVirtualPaths;
  // Taken only when it exists as a directory; otherwise the server default stays.
  directory_->SetDefaultDirectory(account->DefaultDirectory);
  SetLoggedOn(true);
  return Line("230 " + sessions.BannerWelcome);
}

}  // namespace velto
