// Navigation and file management: CWD, CD, CDUP, PWD, XPWD, MKD, RMD, DELE,
// RNFR, RNTO (and their X aliases), SIZE, MDTM, MFMT and SITE CHMOD.
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
#include "ftp/session_lookup.h"
#include "users/ftp_users.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace velto {

namespace {

using reply::Line;

using Lookup = CDirectory::Lookup;
using Located = CDirectory::Located;

using session_lookup::FindDirectory;
using session_lookup::FindEntry;
using session_lookup::FindOwnEntry;
using session_lookup::Limited;
using session_lookup::MayWrite;
using session_lookup::Refusal;

}  // namespace

std::string CFTPSession::CmdCWD(const ParsedCommand& command) {
  if (command.argument.empty()) return Line(reply::kSyntaxMissingOrIncorrect);
  const bool limited = Limited(Account());
  CDirectory& directory = *directory_;
  const Located target = FindDirectory(directory, command.argument, limited);
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
  return Line("257 " + reply::Quoted(directory_->ClientPath(directory_->CurrentDirectory())) +
              " is the current directory.");
}

std::string CFTPSession::CmdMKD(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (!MayWrite(account)) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  // An absolute argument names its own path; a relative one is created
  // below the current directory (never taken from the root).
  const std::string target = CDirectory::Normalize(directory_->Candidates(command.argument).front());
  if (Limited(account) && !directory_->BelowDefault(target)) return Line(reply::kNoAccess);
  if (const int rc = directory_->MakeDirs(target); rc != 0) {
    return Line(rc == CDirectory::kOutside ? reply::kNoAccess : reply::kFileNotFound);
  }
  return Line("257 " + reply::Quoted(directory_->ClientPath(target)) + " Directory created.");
}

std::string CFTPSession::CmdRMD(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (!MayWrite(account)) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  const bool limited = Limited(account);
  CDirectory& directory = *directory_;
  const Located target = FindDirectory(directory, command.argument, limited);
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
  // A link is deleted as itself, wherever it points.
  struct stat st{};
  const Located target = FindOwnEntry(*directory_, command.argument, limited, st);
  if (target.result == Lookup::Refused) return Line(reply::kNoAccess);
  if (target.result == Lookup::NotFound) return Line(reply::kFileNotFound);
  if (limited && !directory_->BelowDefault(target.path)) return Line(reply::kNoAccess);
  const int rc = directory_->Unlink(target.path);
  if (rc == CDirectory::kOutside) return Line(reply::kNoAccess);
  return Line(rc == 0 ? reply::kActionOk : reply::kFileError);
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
  struct stat st{};
  const Located source = FindOwnEntry(*directory_, from, limited, st);
  if (source.result == Lookup::Refused) return Line(reply::kNoAccess);
  if (source.result == Lookup::NotFound) return Line(reply::kPathNotFound);
  // The new name is taken like MKD's: absolute as given, relative below the
  // current directory.
  const std::string target = directory_->Candidates(command.argument).front();
  if (limited && (!directory_->BelowDefault(source.path) || !directory_->BelowDefault(target))) {
    return Line(reply::kNoAccess);
  }
  const int rc = directory_->Rename(source.path, target);
  if (rc == CDirectory::kOutside) return Line(reply::kNoAccess);
  return Line(rc == 0 ? reply::kActionOk : reply::kActionFailed);
}

std::string CFTPSession::CmdSIZE(const ParsedCommand& command) {
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  struct stat st{};
  const Located found = FindEntry(*directory_, command.argument, Limited(Account()), st);
  if (found.result != Lookup::Found) return Refusal(found.result);
  // Both types send the bytes unchanged: the size is the byte count.
  if (!S_ISREG(st.st_mode)) return Line(reply::kNotRegularFile);
  return Line("213 " + std::to_string(st.st_size));
}

std::string CFTPSession::CmdMDTM(const ParsedCommand& command) {
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  struct stat st{};
  const Located found = FindEntry(*directory_, command.argument, Limited(Account()), st);
  if (found.result != Lookup::Found) return Refusal(found.result);
  return Line("213 " + FactTime(st.st_mtime));
}

// MFMT <time> <path>: sets the entry's modification time (mirrors keep
// the dates of what they copy).
std::string CFTPSession::CmdMFMT(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (!MayWrite(account)) return Line(reply::kNoAccess);
  const std::size_t space = command.argument.find(' ');
  const std::size_t nameAt = command.argument.find_first_not_of(' ', space);
  std::time_t when = 0;
  if (nameAt == std::string::npos || !ParseFactTime(command.argument.substr(0, space), when)) {
    return Line(reply::kSyntaxMissingOrIncorrect);
  }
  const std::string name = command.argument.substr(nameAt);
  struct stat st{};
  const Located found = FindEntry(*directory_, name, Limited(account), st);
  if (found.result != Lookup::Found) return Refusal(found.result);
  const std::time_t before = st.st_mtime;
  struct stat stored{};
  if (directory_->SetModified(found.path, when, &stored) != 0) return Line(reply::kActionFailed);
  // A file system keeps times to its own precision (two seconds on FAT) and
  // range: the answer says what it stored, and a time it could not hold at
  // all is undone and refused.
  const std::time_t kept = stored.st_mtime;
  if (kept > when + 2 || kept < when - 2) {
    directory_->SetModified(found.path, before);
    return Line(reply::kTimeNotStored);
  }
  return Line("213 Modify=" + FactTime(kept) + "; " + name);
}

// SITE CHMOD <octal mode> <path>: the permission bits only (never set-id
// or sticky bits), with the write right, inside the account's tree.
std::string CFTPSession::CmdSITE(const ParsedCommand& command) {
  const std::string& arg = command.argument;
  const std::string word = UpperAscii(arg.substr(0, arg.find(' ')));
  if (word != "CHMOD") return Line(reply::kNotImplemented);
  const CFTPUser* account = Account();
  if (!MayWrite(account)) return Line(reply::kNoAccess);
  const std::size_t modeAt = arg.find_first_not_of(' ', word.size());
  const std::size_t modeEnd = modeAt == std::string::npos ? modeAt : arg.find(' ', modeAt);
  const std::size_t nameAt = modeEnd == std::string::npos ? modeEnd : arg.find_first_not_of(' ', modeEnd);
  if (nameAt == std::string::npos) return Line(reply::kSyntaxMissingOrIncorrect);
  const std::string modeText = arg.substr(modeAt, modeEnd - modeAt);
  unsigned mode = 0;
  for (char c : modeText) {
    if (c < '0' || c > '7' || modeText.size() > 4) return Line(reply::kSyntaxMissingOrIncorrect);
    mode = mode * 8 + static_cast<unsigned>(c - '0');
  }
  const bool limited = Limited(account);
  struct stat st{};
  const Located found = FindEntry(*directory_, arg.substr(nameAt), limited, st);
  if (found.result != Lookup::Found) return Refusal(found.result);
  // The default directory's own entry belongs to the folder above it.
  if (limited && !directory_->BelowDefault(found.path)) return Line(reply::kNoAccess);
  if (directory_->Chmod(found.path, mode & 0777) != 0) return Line(reply::kActionFailed);
  return Line(reply::kChmodDone);
}

}  // namespace velto
