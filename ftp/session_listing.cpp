// LIST, NLST, MLSD, MLST and STAT of a path: what an argument names, and
// its listing in the form each command gives.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/listing.h"
#include "ftp/replies.h"
#include "ftp/session_lookup.h"
#include "users/ftp_users.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace velto {

namespace {

using reply::Line;
using Lookup = CDirectory::Lookup;

// A STAT listing goes out in pieces of about this size.
constexpr std::size_t kControlPiece = 16 * 1024;

// Leading options ("-la", "-a -l") are options, not names.
std::string WithoutOptions(const std::string& argument) {
  std::size_t at = 0;
  while (at < argument.size() && argument[at] == '-') {
    const std::size_t space = argument.find(' ', at);
    at = space == std::string::npos ? space : argument.find_first_not_of(' ', space);
    if (at == std::string::npos) return {};
  }
  return argument.substr(at);
}

using session_lookup::FindEntry;
using session_lookup::Limited;
using session_lookup::Refusal;

}  // namespace

// What a listing argument names: a folder, one entry, or the names in a
// folder that match a pattern in the last component.
struct CFTPSession::Listed {
  std::string path;     // the folder to list, or the single entry
  bool single = false;  // `path` is one entry, shown as `shown`
  std::string pattern;  // only names that match it
  std::string prefix;   // before each matching name (the folder as given)
  std::string shown;    // the argument without options
  struct stat st{};     // the single entry's facts
};

std::string CFTPSession::FindListed(const std::string& argument, Listed& out) {
  const CFTPUser* account = Account();
  const bool limited = Limited(account);
  CDirectory& directory = *directory_;
  out = Listed{};
  out.shown = WithoutOptions(argument);
  std::string name = out.shown;
  const std::size_t slash = name.find_last_of("/\\");
  const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
  if (last.find_first_of("*?") != std::string::npos) {
    out.pattern = last;
    out.prefix = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    name = out.prefix;
  }
  struct stat& st = out.st;
  if (name.empty()) {
    out.path = directory.CurrentDirectory();
    // The folder is found again below the default directory: it may have
    // been swapped for a link since the client went there.
    if (limited && directory.IsDirectory(out.path) == CDirectory::kOutside) return Line(reply::kNoAccess);
  } else {
    // A dangling link is listed as itself; one that leads out is refused.
    const auto found = directory.Locate(name, limited, [&directory, &st](const std::string& path) {
      const int rc = directory.Stat(path, st);
      return rc == -ENOENT ? directory.Stat(path, st, false) : rc;
    });
    if (found.result != Lookup::Found) return Refusal(found.result);
    out.single = !S_ISDIR(st.st_mode);
    out.path = out.single || found.path.back() == '/' ? found.path : found.path + "/";
    if (out.single && !out.pattern.empty()) return Line(reply::kFileNotFound);
  }
  if (!out.pattern.empty()) {
    // Nothing matches: said now, before any data connection.
    std::string first;
    const auto probe = OpenListed(out, ListingStyle{ListingStyle::Kind::Names});
    if (probe) probe->Next(first, 1);
    if (first.empty()) return Line(reply::kFileNotFound);
  }
  return {};
}

std::unique_ptr<ListingCursor> CFTPSession::OpenListed(const Listed& listed, ListingStyle style) {
  if (listed.single) return ListingCursor::OneEntry(listed.st, listed.shown, std::move(style));
  platform::UniqueFd folder(directory_->Open(listed.path, O_RDONLY | O_DIRECTORY | O_NONBLOCK));
  if (!folder) return nullptr;
  ListingCursor::NameFilter filter;
  if (!listed.pattern.empty()) {
    style.prefix = listed.prefix;
    filter = [pattern = listed.pattern](std::string_view name) { return MatchesPattern(pattern, name); };
  }
  // A confined session's links are shown as what they lead to only while
  // that lies inside; one that leads out shows its own facts.
  ListingCursor::LinkFacts linkFacts;
  if (directory_->Confined) linkFacts = directory_->LinkFactsIn(listed.path);
  return ListingCursor::OpenFolder(std::move(folder), std::move(style), std::move(filter), std::move(linkFacts));
}

FactOptions CFTPSession::Facts() const {
  const CFTPUser* account = Account();
  return FactOptions{mlstFacts_, account != nullptr && account->ReadAccess,
                     account != nullptr && account->WriteAccess};
}

std::string CFTPSession::CmdLIST(const ParsedCommand& command) {
  Listed listed;
  if (std::string refusal = FindListed(command.argument, listed); !refusal.empty()) return refusal;
  Transfer t;
  t.kind = Transfer::Kind::List;
  t.listing = OpenListed(listed, ListingStyle{ListingStyle::Kind::Fixed});
  return BeginTransfer(std::move(t), "150 Opening ASCII mode data connection for \"" +
                                         directory_->ClientPath(listed.path) + "\".");
}

std::string CFTPSession::CmdNLST(const ParsedCommand& command) {
  Listed listed;
  if (std::string refusal = FindListed(command.argument, listed); !refusal.empty()) return refusal;
  Transfer t;
  t.kind = Transfer::Kind::Nlst;
  t.listing = OpenListed(listed, ListingStyle{ListingStyle::Kind::Names});
  return BeginTransfer(std::move(t), reply::kOpening);
}

// MLSD [folder]: the folder's entries with their facts (RFC 3659).
std::string CFTPSession::CmdMLSD(const ParsedCommand& command) {
  Listed listed;
  if (command.argument.empty()) {
    if (std::string refusal = FindListed({}, listed); !refusal.empty()) return refusal;
  } else {
    struct stat st{};
    const auto found = FindEntry(*directory_, command.argument, Limited(Account()), st);
    if (found.result != Lookup::Found) return Refusal(found.result);
    if (!S_ISDIR(st.st_mode)) return Line(reply::kFileNotFound);
    listed.path = found.path;
  }
  Transfer t;
  t.kind = Transfer::Kind::List;
  ListingStyle style{ListingStyle::Kind::Facts};
  style.facts = Facts();
  t.listing = OpenListed(listed, std::move(style));
  return BeginTransfer(std::move(t), reply::kOpening);
}

// MLST [path]: one entry's facts on the control connection.
std::string CFTPSession::CmdMLST(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  std::string path = directory_->CurrentDirectory();
  struct stat st{};
  if (!command.argument.empty()) {
    const auto found = FindEntry(*directory_, command.argument, Limited(account), st);
    if (found.result != Lookup::Found) return Refusal(found.result);
    path = found.path;
  } else if (const int rc = directory_->Stat(path, st); rc != 0) {
    return Line(rc == CDirectory::kOutside ? reply::kNoAccess : reply::kFileNotFound);
  }
  const std::string shown = directory_->ClientPath(path);
  return Line("250-Listing " + shown) + " " + FactsLine(st, Facts(), shown) + Line("250 End.");
}

// STAT <path>: LIST's lines in a reply on the control connection. Each line
// is indented, so none can pass for the reply's end.
std::string CFTPSession::StatPath(const std::string& argument) {
  Listed listed;
  if (std::string refusal = FindListed(argument, listed); !refusal.empty()) return refusal;
  ListingStyle style{ListingStyle::Kind::Fixed};
  style.indent = " ";
  std::unique_ptr<ListingCursor> listing = OpenListed(listed, std::move(style));
  SendReply("213-Status of \"" + directory_->ClientPath(listed.path) + "\":");
  controlListing_ = std::move(listing);
  SendControlListing();
  return {};
}

// Sends pieces while the client reads them; a client that does not read
// holds the rest (and its next commands) until its replies have drained.
void CFTPSession::SendControlListing() {
  while (controlListing_ && !closed_) {
    std::string piece;
    const bool more = controlListing_->Next(piece, kControlPiece);
    if (!piece.empty()) host_->Send(piece);
    if (!more) break;
    if (host_->Backlogged()) {
      waitingForDrain_ = true;
      Hold();
      return;
    }
  }
  controlListing_.reset();
  SendReply(reply::kStatusEnd);
  if (!repliesAfterListing_.empty() && !closed_) host_->Send(repliesAfterListing_);
  repliesAfterListing_.clear();
  Release();
}

}  // namespace velto
