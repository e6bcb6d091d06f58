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
  const bool limited = account != nullptr && account->LimitToDefaultDirectory;
  std::string folder;
  if (command.argument.empty()) {
    folder = directory_->CurrentDirectory();
    if (limited && !directory_->InsideDefault(folder)) return Line(reply::kNoAccess);
  } else {
    const auto found = directory_->Locate(command.argument, limited,
                                          [this](const std::string& path) { return directory_->DirExists(path); });
    if (found.result == CDirectory::Lookup::Refused) return Line(reply::kNoAccess);
    if (found.result == CDirectory::Lookup::NotFound) return Line(reply::kFileNotFound);
    folder = found.path;
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
