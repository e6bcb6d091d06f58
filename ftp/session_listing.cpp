// LIST and NLST.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/listing.h"
#include "ftp/replies.h"
#include "users/ftp_users.h"

namespace velto {

using reply::Line;

std::string CFTPSession::CmdLIST(const ParsedCommand&) {
  // Any argument (a path or options such as -la) is ignored: LIST shows the
  // current directory.
  const std::string folder = directory_->CurrentDirectory();
  // The current directory is checked again: a rename may since have put a
  // link that leaves the tree in its place.
  const CFTPUser* account = Account();
  if (account != nullptr && account->LimitToDefaultDirectory && !directory_->Contains(folder)) {
    return Line(reply::kNoAccess);
  }
  Transfer t;
  t.kind = Transfer::Kind::List;
  t.listing = ListingCursor::OpenFolder(folder, false);
  return BeginTransfer(std::move(t), "150 Opening ASCII mode data connection for \"" + folder + "\".");
}

std::string CFTPSession::CmdNLST(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  const bool limited = account != nullptr && account->LimitToDefaultDirectory;
  std::string folder;
  if (command.argument.empty()) {
    folder = directory_->CurrentDirectory();
    if (limited && !directory_->Contains(folder)) return Line(reply::kNoAccess);
  } else {
    const auto found = directory_->Locate(command.argument, limited,
                                          [this](const std::string& path) { return directory_->DirExists(path); });
    if (found.result == CDirectory::Lookup::Refused) return Line(reply::kNoAccess);
    if (found.result == CDirectory::Lookup::NotFound) return Line(reply::kFileNotFound);
    folder = found.path;
  }
  Transfer t;
  t.kind = Transfer::Kind::Nlst;
  t.listing = ListingCursor::OpenFolder(folder, true);
  return BeginTransfer(std::move(t), reply::kOpening);
}

}  // namespace velto
