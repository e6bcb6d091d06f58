// LIST and NLST.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/listing.h"
#include "ftp/replies.h"
#include "server/globals.h"

namespace velto {

using reply::Line;

std::string CFTPSession::CmdLIST(const ParsedCommand&) {
  // Any argument (a path or options such as -la) is ignored: LIST shows the
  // current directory.
  const std::string folder = directory_->CurrentDirectory();
  Transfer t;
  t.kind = Transfer::Kind::List;
  CMessageQueue* pump = g_.gobjMessageQueue.get();
  t.listing = ListFolder(folder, false, [pump] {
    if (pump) pump->ProcessWndMsgs(0);
  });
  BeginTransfer(std::move(t), "150 Opening ASCII mode data connection for \"" + folder + "\".");
  return {};
}

std::string CFTPSession::CmdNLST(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  std::string folder;
  if (command.argument.empty()) {
    folder = directory_->CurrentDirectory();
  } else {
    const bool limited = account != nullptr && account->LimitToDefaultDirectory;
    const auto candidates = directory_->Candidates(command.argument);
    for (const auto& candidate : candidates) {
      if (limited && !directory_->InsideDefault(candidate)) continue;
      if (directory_->DirExists(candidate)) {
        folder = candidate;
        break;
      }
    }
    if (account != nullptr && account->LimitToDefaultDirectory &&
        !directory_->InsideDefault(folder.empty() ? candidates.front() : folder)) {
      return Line(reply::kNoAccess);
    }
    if (folder.empty()) return Line(reply::kFileNotFound);
  }
  if (account != nullptr && account->LimitToDefaultDirectory && !directory_->InsideDefault(folder)) {
    return Line(reply::kNoAccess);
  }
  Transfer t;
  t.kind = Transfer::Kind::Nlst;
  CMessageQueue* pump = g_.gobjMessageQueue.get();
  t.listing = ListFolder(folder, true, [pump] {
    if (pump) pump->ProcessWndMsgs(0);
  });
  BeginTransfer(std::move(t), reply::kOpening);
  return {};
}

}  // namespace velto
