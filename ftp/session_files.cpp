// Navigation and file management: CWD, CD, CDUP, PWD, XPWD, MKD, RMD, DELE,
// RNFR and RNTO.
//
// Every path an argument names is resolved to an absolute path ("." and ".."
// taken off the text, runs of separators collapsed) before anything is
// checked, and the resolved path is what the operating system is handed. An
// account limited to its default directory is checked on that path,
// component by component, so ".." cannot climb out of the tree and a name
// that merely starts like the default directory is not inside it.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/replies.h"
#include "users/ftp_users.h"

namespace velto {

namespace {

using reply::Line;

using Lookup = CDirectory::Lookup;
using Located = CDirectory::Located;

// Without an account nothing may be written and the session stays inside
// its default directory.
bool Limited(const CFTPUser* account) { return account == nullptr || account->LimitToDefaultDirectory; }
bool MayWrite(const CFTPUser* account) { return account != nullptr && account->WriteAccess; }

}  // namespace

std::string CFTPSession::CmdCWD(const ParsedCommand& command) {
  if (command.argument.empty()) return Line(reply::kSyntaxMissingOrIncorrect);
  const bool limited = Limited(Account());
  CDirectory& directory = *directory_;
  const Located target = directory.Locate(command.argument, limited,
                                [&directory](const std::string& path) { return directory.DirExists(path); });
  switch (target.result) {
    case Lookup::Refused:
      return Line(reply::kNoAccess);
    case Lookup::NotFound:
      return Line(reply::kFileNotFound);
    case Lookup::Found:
      break;
  }
  directory.SetCurrentDirectory(target.path);
  return Line(reply::kActionOk);
}

// The verb "CD" only matches a line without an argument (longer lines give
// four other characters), so this ends in the syntax reply; the shared
// handler keeps it that way should an argument ever arrive.
std::string CFTPSession::CmdCD(const ParsedCommand& command) { return CmdCWD(command); }

std::string CFTPSession::CmdCDUP(const ParsedCommand&) { return CmdCWD(ParsedCommand{"CWD", ".."}); }

std::string CFTPSession::CmdPWD(const ParsedCommand&) {
  return Line("257 Remote directory is \"" + directory_->CurrentDirectory() + "\"");
}

std::string CFTPSession::CmdMKD(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (!MayWrite(account)) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  // An absolute argument names its own path; a relative one is created
  // below the current directory (never taken from the root).
  const std::string target = CDirectory::Normalize(directory_->Candidates(command.argument).front());
  if (Limited(account) && !directory_->Contains(target, true)) return Line(reply::kNoAccess);
  if (!directory_->MakeDir(target)) return Line(reply::kFileNotFound);
  return Line("257 \"" + target + "\" Directory created.");
}

std::string CFTPSession::CmdRMD(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (!MayWrite(account)) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  const bool limited = Limited(account);
  CDirectory& directory = *directory_;
  const Located target = directory.Locate(command.argument, limited,
                                [&directory](const std::string& path) { return directory.DirExists(path); });
  if (target.result == Lookup::Refused) return Line(reply::kNoAccess);
  if (target.result == Lookup::NotFound) return Line(reply::kFileNotFound);
  if (limited && !directory.BelowDefault(target.path)) return Line(reply::kNoAccess);
  if (!directory.RemoveDir(target.path)) return Line(reply::kFileNotFound);
  // The current directory itself may have gone: stay at its nearest
  // surviving parent.
  std::string current = CDirectory::Normalize(directory.CurrentDirectory());
  while (current != "/" && !directory.DirExists(current)) {
    const std::size_t slash = current.rfind('/');
    current.erase(slash == 0 ? 1 : slash);
  }
  directory.SetCurrentDirectory(current);
  return Line(reply::kActionOk);
}

std::string CFTPSession::CmdDELE(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (!MayWrite(account)) return Line(reply::kNoAccess);
  const bool limited = Limited(account);
  CFileInfo& file = directory_->pobjFile();
  // A link is deleted as itself, wherever it points.
  const Located target = directory_->Locate(
      command.argument, limited,
      [&file](const std::string& path) {
        file.SetFullPathName(path);
        return file.FileExists();
      },
      true);
  if (target.result == Lookup::Refused) return Line(reply::kNoAccess);
  if (target.result == Lookup::NotFound) return Line(reply::kFileNotFound);
  if (limited && !directory_->BelowDefault(target.path)) return Line(reply::kNoAccess);
  file.SetFullPathName(target.path);
  return Line(file.Delete() != 0 ? reply::kActionOk : reply::kFileError);
}

std::string CFTPSession::CmdRNFR(const ParsedCommand& command) {
  if (!MayWrite(Account())) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  renameFromPath_ = command.argument;
  return Line(reply::kPending);
}

std::string CFTPSession::CmdRNTO(const ParsedCommand& command) {
  // Whatever the outcome, a rename source serves one RNTO only.
  const std::string from = std::move(renameFromPath_);
  renameFromPath_.clear();

  const CFTPUser* account = Account();
  if (!MayWrite(account)) return Line(reply::kNoAccess);
  if (command.argument.empty() || from.empty()) return Line(reply::kSyntaxMissing);
  const bool limited = Limited(account);
  CFileInfo& file = directory_->pobjFile();
  const Located source = directory_->Locate(
      from, limited,
      [&file](const std::string& path) {
        file.SetFullPathName(path);
        return file.FileExists();
      },
      true);
  if (source.result == Lookup::Refused) return Line(reply::kNoAccess);
  if (source.result == Lookup::NotFound) return Line(reply::kPathNotFound);
  // The new name is taken like MKD's: absolute as given, relative below the
  // current directory.
  const std::string target = directory_->Candidates(command.argument).front();
  if (limited && (!directory_->BelowDefault(source.path) || !directory_->BelowDefault(target) ||
                  !directory_->Contains(target, true))) {
    return Line(reply::kNoAccess);
  }
  file.SetFullPathName(source.path);
  const bool moved = file.IsDirectory() ? directory_->RenameDir(source.path, target)
                                        : file.RenameFile(source.path, target);
  return Line(moved ? reply::kActionOk : reply::kActionFailed);
}

}  // namespace velto
