// Data connections and transfers: PORT, PASV, EPRT, EPSV, TYPE, REST, RETR,
// STOR, APPE, STOU, ABOR and the session's side of the data connection's
// life.
//
// A transfer command answers its preliminary reply, then runs as soon as the
// data connection exists: at once when the client is already connected to
// the passive listener, when it connects (up to kPassiveWaitMs), or when the
// outgoing connection of active mode is made. Downloads are handed to the
// host as file ranges and listings go out in bounded pieces, so a
// transfer's memory does not grow with the file or the folder.
//
// Nothing on disk changes before the data connection exists: a STOR that
// never gets one leaves an existing file exactly as it was.
#include "ftp/data_address.h"
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "ftp/listing.h"
#include "ftp/replies.h"
#include "ftp/session_lookup.h"
#include "log/clog.h"
#include "log/log_lines.h"
#include "log/transfer_log.h"
#include "users/ftp_users.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>

namespace velto {

namespace {

constexpr std::uint32_t kPassiveWaitMs = 60000;
// Upload bytes gathered before one write.
constexpr std::size_t kUploadBuffer = 256 * 1024;
// A listing goes out in pieces of about this size.
constexpr std::size_t kListingPiece = 64 * 1024;

using reply::Line;

// A PORT field: one to three decimal digits, 0..255.
bool PortField(std::string_view text, int& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text.size() > 3) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= 255;
}

// REST's number: a whole byte offset, decimal digits with an optional sign
// (a negative one is refused by the caller). A fraction or an exponent is
// no offset: a client that sends one gets 501, not a rounded restart.
bool RestValue(std::string_view text, std::int64_t& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// Whether `path` names a file to send (a directory does not): opened without
// ever blocking (a FIFO would) and kept when it is a regular file. One that
// cannot be opened but exists counts as found, with nothing opened.
// 0 when found, else -errno (CDirectory::kOutside for a path that leads
// out of a confined tree).
int OpenToSend(const CDirectory& directory, const std::string& path, platform::UniqueFd& file, std::int64_t& size,
               bool& notRegular) {
  struct stat st{};
  const int opened = directory.Open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (opened < 0) {
    if (opened == CDirectory::kOutside || opened == -ENOENT) return opened;
    const int rc = directory.Stat(path, st);
    return rc != 0 ? rc : S_ISDIR(st.st_mode) ? -EISDIR : 0;
  }
  platform::UniqueFd fd(opened);
  if (::fstat(fd.get(), &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return -EISDIR;
  notRegular = !S_ISREG(st.st_mode);
  if (!notRegular) {
    size = st.st_size;
    file = std::move(fd);
  }
  return 0;
}

// The reply that names the one address family data connections of this
// control connection can use: the client's own address is of its family.
const char* FamilyRefusal(bool ipv6) { return ipv6 ? reply::kOnlyIpv6 : reply::kOnlyIpv4; }

bool ValidFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:*?\"<>|") == std::string::npos;
}

}  // namespace

// ---- commands -----------------------------------------------------------------

std::string CFTPSession::CmdPORT(const ParsedCommand& command) {
  if (IsIPv6Address(info_.clientAddress)) return Line(epsvAll_ ? reply::kEpsvOnly : reply::kPortIpv4Only);
  std::vector<std::string> fields;
  std::size_t start = 0;
  const std::string& arg = command.argument;
  while (true) {
    const auto comma = arg.find(',', start);
    fields.push_back(arg.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  int v[6] = {};
  if (fields.size() != 6) return Line(reply::kSyntaxMissingOrIncorrect);
  for (int i = 0; i < 6; ++i) {
    if (!PortField(fields[static_cast<std::size_t>(i)], v[i])) return Line(reply::kSyntaxMissingOrIncorrect);
  }
  if (epsvAll_) return Line(reply::kEpsvOnly);
  const std::string address =
      std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
  const int port = v[4] * 256 + v[5];
  // Data goes only to the client itself, and never to a privileged port:
  // no bounce through this server, no theft of a service's port.
  if (info_.clientAddress != address || port < 1024) return Line(reply::kIllegalPort);
  UseActive(address, port);
  return Line(reply::kOk);
}

// EPRT |1|address|port| or |2|address|port| (RFC 2428; any delimiter):
// PORT's rules for the control connection's own family.
std::string CFTPSession::CmdEPRT(const ParsedCommand& command) {
  const std::string& arg = command.argument;
  if (arg.size() < 2 || arg[0] < 33 || arg[0] > 126 || arg.back() != arg[0]) {
    return Line(reply::kSyntaxMissingOrIncorrect);
  }
  std::vector<std::string> fields;
  std::size_t start = 1;
  while (start < arg.size()) {
    const std::size_t end = arg.find(arg[0], start);
    fields.push_back(arg.substr(start, end - start));
    start = end + 1;
  }
  if (fields.size() != 3) return Line(reply::kSyntaxMissingOrIncorrect);
  const bool ipv6 = IsIPv6Address(info_.clientAddress);
  if (fields[0] != (ipv6 ? "2" : "1")) return Line(FamilyRefusal(ipv6));
  int port = 0;
  const std::string& portText = fields[2];
  const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  // The address in the family's own text form: dotted IPv4, or IPv6 as
  // inet_pton reads it (no brackets; a zone is allowed and not compared).
  const std::string& addressText = fields[1];
  in6_addr parsed{};
  const bool literal = ipv6 ? ::inet_pton(AF_INET6, addressText.substr(0, addressText.find('%')).c_str(), &parsed) == 1
                            : ::inet_pton(AF_INET, addressText.c_str(), &parsed) == 1;
  if (!literal || error != std::errc() || end != portText.data() + portText.size() || port < 1 || port > 65535) {
    return Line(reply::kSyntaxMissingOrIncorrect);
  }
  if (epsvAll_) return Line(reply::kEpsvOnly);
  const std::string client = ComparableAddress(info_.clientAddress);
  if (ComparableAddress(addressText) != client || port < 1024) return Line(reply::kIllegalEprt);
  // The connection goes to the client's address as the control connection
  // reported it (with its zone, for a link-local client).
  UseActive(ipv6 ? info_.clientAddress : client, port);
  return Line(reply::kOk);
}

void CFTPSession::UseActive(const std::string& address, int port) {
  ClosePassiveListener();
  if (!TransferBusy()) CloseDataConnection();
  dataHostAddress_ = address;
  DataPortToConnectOn = std::to_string(port);
  dataMode_ = DataMode::Active;
}

int CFTPSession::UsePassive() {
  ClosePassiveListener();
  if (!TransferBusy()) CloseDataConnection();
  const int port = host_->OpenPassive();
  if (port <= 0) {
    dataMode_ = DataMode::None;
    return 0;
  }
  passiveOpen_ = true;
  DataPortToListenOn = std::to_string(port);
  dataMode_ = DataMode::Passive;
  return port;
}

std::string CFTPSession::CmdPASV(const ParsedCommand&) {
  if (epsvAll_) return Line(reply::kEpsvOnly);
  if (IsIPv6Address(info_.clientAddress)) return Line(reply::kPasvIpv4Only);
  const int port = UsePassive();
  if (port == 0) return Line(reply::kCantOpenData);
  // The address the client reached this server on, or the one configured
  // for clients beyond the server's networks.
  std::string address = AnnouncedPassiveAddress(
      Options().PassiveAddress, info_.clientAddress, info_.localAddress.empty() ? info_.serverAddress : info_.localAddress);
  for (auto& c : address) {
    if (c == '.') c = ',';
  }
  return Line("227 Entering Passive Mode (" + address + "," + std::to_string(port / 256) + "," +
              std::to_string(port % 256) + ").");
}

// EPSV [1|2|ALL] (RFC 2428): PASV without an address, which the client
// already has; the family named must be the control connection's.
std::string CFTPSession::CmdEPSV(const ParsedCommand& command) {
  const std::string arg = UpperAscii(command.argument);
  if (arg == "ALL") {
    epsvAll_ = true;
    return Line(reply::kEpsvAll);
  }
  const bool ipv6 = IsIPv6Address(info_.clientAddress);
  if (!arg.empty() && arg != (ipv6 ? "2" : "1")) {
    return Line(arg == "1" || arg == "2" ? FamilyRefusal(ipv6) : reply::kSyntaxMissingOrIncorrect);
  }
  const int port = UsePassive();
  if (port == 0) return Line(reply::kCantOpenData);
  return Line("229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)");
}

std::string CFTPSession::CmdTYPE(const ParsedCommand& command) {
  // Bytes go unchanged in every type; "A N" and "L 8" are the RFC 1123
  // minimum, the same as A and I.
  const std::string& type = command.argument;
  if (type == "A" || type == "I" || type == "A N" || type == "L 8") {
    TypeMode = type == "L 8" ? "I" : type.substr(0, 1);
    return Line(reply::kOk);
  }
  return Line(reply::kNotImplemented);
}

std::string CFTPSession::CmdREST(const ParsedCommand& command) {
  std::int64_t value = 0;
  if (command.argument.empty() || !RestValue(command.argument, value) || value < 0 ||
      value > 9'000'000'000'000'000'000) {
    return Line(reply::kSyntaxMissing);
  }
  FilePos = value;
  return Line("350 Restarting transfer at " + command.argument + ".");
}

std::string CFTPSession::CmdRETR(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (account == nullptr || !account->ReadAccess) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  // A limited account never looks outside its tree, not even to learn what
  // exists there. The candidate that exists is opened as it is found (the
  // confinement check comes first), which also tells what it is.
  Transfer t;
  std::int64_t size = 0;
  bool notRegular = false;
  const auto opened = [&](const std::string& path) { return OpenToSend(*directory_, path, t.file, size, notRegular); };
  const auto found = directory_->Locate(command.argument, account->LimitToDefaultDirectory, opened);
  if (found.result == CDirectory::Lookup::Refused) return Line(reply::kNoAccess);
  if (found.result == CDirectory::Lookup::NotFound) return Line(reply::kFileNotFound);
  if (notRegular) return Line(reply::kNotRegularFile);
  if (!t.file) return Line(reply::kFileNotFound);
  const std::int64_t offset = FilePos;
  FilePos = 0;
  if (offset > size) return Line(reply::kBadRestart);
  t.kind = Transfer::Kind::Retr;
  t.offset = offset;
  t.length = size - offset;
  t.shownPath = directory_->ClientPath(found.path);
  return BeginTransfer(std::move(t), reply::kOpening);
}

std::string CFTPSession::CmdSTOR(const ParsedCommand& command) { return Upload(command, false); }

// APPE: STOR that adds to the end of an existing file.
std::string CFTPSession::CmdAPPE(const ParsedCommand& command) { return Upload(command, true); }

std::string CFTPSession::Upload(const ParsedCommand& command, bool append) {
  const CFTPUser* account = Account();
  if (account == nullptr || !account->WriteAccess) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissingOrIncorrect);
  std::string path;
  if (!LocateUpload(command.argument, account->LimitToDefaultDirectory, path)) return Line(reply::kNoAccess);
  // An append goes to the end, wherever a restart pointed.
  const std::int64_t restart = append ? 0 : FilePos;
  FilePos = 0;
  struct stat st{};
  if (directory_->Stat(path, st, false) == 0) {
    if (S_ISDIR(st.st_mode)) return Line(reply::kCannotDelete);
    // Only a regular file is written: never a FIFO, a device, a socket, or
    // whatever a link points at.
    if (!S_ISREG(st.st_mode)) return Line(reply::kNotRegularFile);
  }
  Transfer t;
  t.kind = Transfer::Kind::Stor;
  t.path = path;
  t.write = append ? Transfer::Write::Append : Transfer::Write::Replace;
  t.offset = restart;
  t.shownPath = directory_->ClientPath(path);
  return BeginTransfer(std::move(t), reply::kOpening);
}

// STOU [name]: stores under a name no entry has yet (the name given, else
// "upload", with ".1", ".2", ... added as needed) and says which.
std::string CFTPSession::CmdSTOU(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (account == nullptr || !account->WriteAccess) return Line(reply::kNoAccess);
  const std::string wanted = command.argument.empty() ? std::string("upload") : command.argument;
  std::string path;
  if (!LocateUpload(wanted, account->LimitToDefaultDirectory, path)) return Line(reply::kNoAccess);
  // Refused before a name is taken.
  if (std::string refusal = DataRefusal(); !refusal.empty()) return refusal;
  FilePos = 0;
  // The name is taken now (created, never replacing anything), so two
  // sessions storing at once can never be handed the same one; it is
  // given back should the upload never begin.
  Transfer t;
  std::string suffix;
  const int fd = t.target.CreateUnique(*directory_, path, suffix);
  if (fd == CDirectory::kOutside) return Line(reply::kNoAccess);
  if (fd < 0) return Line(reply::kLocalError);
  t.file = platform::UniqueFd(fd);
  t.kind = Transfer::Kind::Stor;
  t.path = path + suffix;
  t.write = Transfer::Write::Unique;
  t.shownPath = directory_->ClientPath(t.path);
  // The name as the client would use it from its current folder.
  return BeginTransfer(std::move(t), "150 FILE: " + wanted + suffix);
}

// Where an upload goes: a valid file name in an existing folder.
bool CFTPSession::LocateUpload(const std::string& argument, bool limited, std::string& path) const {
  const auto found = directory_->Locate(argument, limited, [this](const std::string& candidate) {
    const auto slash = candidate.rfind('/');
    if (!ValidFileName(candidate.substr(slash + 1))) return -EINVAL;
    return directory_->IsDirectory(candidate.substr(0, slash + 1));
  });
  path = found.path;
  return found.result == CDirectory::Lookup::Found;
}

std::string CFTPSession::CmdABOR(const ParsedCommand&) {
  // A transfer whose 150 went out is answered first (426), then ABOR
  // itself: clients read one final reply per command and wait for both.
  const bool running = TransferBusy();
  CancelWait();
  pending_ = Transfer{};
  if (active_.kind == Transfer::Kind::Stor) {
    // What arrived is kept (an atomic upload's is dropped: the old file
    // stays as it was).
    FlushUpload();
    storFile_.reset();
    storTarget_.Abandon();
    storFilePath_.clear();
    WaitingForSTORFile = false;
  }
  LogTransfer(false);
  active_ = Transfer{};
  CloseDataConnection();
  if (running) SendReply(reply::kAbortedByPeer);
  return Line(reply::kAborted);
}

// ---- the transfer's life ---------------------------------------------------------

bool CFTPSession::TransferBusy() const {
  return pending_.kind != Transfer::Kind::None || active_.kind != Transfer::Kind::None;
}

std::string CFTPSession::BeginTransfer(Transfer transfer, std::string_view preliminary) {
  if (std::string refusal = DataRefusal(); !refusal.empty()) return refusal;
  if (TransferBusy()) return Line(reply::kTransferRunning);
  SendReply(preliminary);
  transfer.ascii = TypeMode == "A";
  transfer.user = UserID;
  transfer.anonymous = loggedOnAs_ == "anonymous" && Options().AllowAnonymousLogons;
  pending_ = std::move(transfer);
  // Nothing to connect: no PORT or PASV, or the one passive connection
  // has been used.
  if (dataMode_ == DataMode::None || (dataMode_ == DataMode::Passive && !dataConnected_ && !passiveOpen_)) {
    FailTransfer();
    return {};
  }
  if (dataMode_ == DataMode::Active) {
    CloseDataConnection();
    int port = 0;
    std::from_chars(DataPortToConnectOn.data(), DataPortToConnectOn.data() + DataPortToConnectOn.size(), port);
    if (dataHostAddress_.empty() || port <= 0 || !host_->ConnectData(dataHostAddress_, port)) {
      FailTransfer();
      return {};
    }
    connecting_ = true;
    return {};
  }
  if (dataConnected_) {
    StartTransfer();
    return {};
  }
  // The client has not connected yet.
  waitTimer_ = StartTimer(kPassiveWaitMs, [this] {
    waitTimer_ = 0;
    if (pending_.kind != Transfer::Kind::None) FailTransfer();
  });
  return {};
}

void CFTPSession::CancelWait() { StopTimer(waitTimer_); }

void CFTPSession::FailTransfer() {
  CancelWait();
  pending_ = Transfer{};
  SendReply(reply::kCantOpenData);
}

void CFTPSession::OnDataConnected() {
  connecting_ = false;
  dataConnected_ = true;
  // One connection per PASV: the listener has gone.
  passiveOpen_ = false;
  DataPortToListenOn.clear();
  if (pending_.kind != Transfer::Kind::None) {
    CancelWait();
    StartTransfer();
  }
}

void CFTPSession::OnDataConnectFailed() {
  connecting_ = false;
  if (dataMode_ == DataMode::Passive && !dataConnected_) {
    // The listener took its one connection (which failed, e.g. in its TLS
    // handshake) and is gone: a later transfer must not wait for another.
    passiveOpen_ = false;
    DataPortToListenOn.clear();
  }
  if (pending_.kind != Transfer::Kind::None) FailTransfer();
}

void CFTPSession::StartTransfer() {
  active_ = std::move(pending_);
  pending_ = Transfer{};
  active_.started = std::chrono::steady_clock::now();
  active_.takenBefore = host_->DataBytesTaken();
  switch (active_.kind) {
    case Transfer::Kind::None:
      return;
    case Transfer::Kind::Stor:
      if (!OpenUploadTarget()) {
        active_ = Transfer{};
        CloseDataConnection();
        return;
      }
      WaitingForSTORFile = true;
      return;
    case Transfer::Kind::Retr:
      if (active_.length <= 0) {
        FinishTransfer(reply::kTransferCompleted);
        return;
      }
      if (!host_->SendFile(std::move(active_.file), active_.offset, active_.length)) {
        if (CLog* log = table_.Services().errorLog) {
          log->LogData(ErrorLogLine("0", "Sending a file to " + info_.clientAddress + " failed", "RETR"));
        }
        FinishTransfer(reply::kLocalError);
      }
      return;
    case Transfer::Kind::List:
    case Transfer::Kind::Nlst:
      SendNextListingPiece();
      return;
  }
}

void CFTPSession::SendNextListingPiece() {
  // A host may report a piece sent from inside SendData; the loop below
  // then sends the next, so a listing of many pieces never nests calls.
  if (sendingListing_) {
    listingPieceSent_ = true;
    return;
  }
  sendingListing_ = true;
  do {
    listingPieceSent_ = false;
    std::string piece;
    const bool more = active_.listing && active_.listing->Next(piece, kListingPiece);
    if (!more) active_.listing.reset();
    const char* ending = nullptr;  // the transfer's last reply, when it ends here
    if (piece.empty()) {
      ending = reply::kTransferCompleted;  // nothing (more): an empty directory is an empty transfer
    } else if (!host_->SendData(std::move(piece))) {
      ending = reply::kLocalError;
    }
    if (ending != nullptr) {
      sendingListing_ = false;
      FinishTransfer(ending);
      return;
    }
  } while (listingPieceSent_);
  sendingListing_ = false;
}

void CFTPSession::OnDataSent() {
  switch (active_.kind) {
    case Transfer::Kind::Retr:
      FinishTransfer(reply::kTransferCompleted);
      return;
    case Transfer::Kind::List:
    case Transfer::Kind::Nlst:
      if (active_.listing) {
        SendNextListingPiece();
      } else {
        FinishTransfer(reply::kTransferCompleted);
      }
      return;
    default:
      return;
  }
}

// The data connection closes, then the client hears how it went.
void CFTPSession::FinishTransfer(std::string_view replyText) {
  LogTransfer(replyText == reply::kTransferCompleted);
  active_ = Transfer{};
  CloseDataConnection();
  SendReply(replyText);
}

void CFTPSession::OnDataReceived(std::string_view bytes) {
  if (active_.kind != Transfer::Kind::Stor) return;
  lastAccess_ = std::chrono::steady_clock::now();
  active_.received += static_cast<std::int64_t>(bytes.size());
  pCommandSTOR(bytes);
}

void CFTPSession::OnDataClosed(bool error) {
  dataConnected_ = false;
  connecting_ = false;
  switch (active_.kind) {
    case Transfer::Kind::Stor:
      EndUpload(error);
      return;
    case Transfer::Kind::Retr:
    case Transfer::Kind::List:
    case Transfer::Kind::Nlst:
      // The client went away before everything was sent.
      LogTransfer(false);
      active_ = Transfer{};
      host_->CloseData();
      SendReply(reply::kAbortedByPeer);
      return;
    case Transfer::Kind::None:
      host_->CloseData();
      if (pending_.kind != Transfer::Kind::None && dataMode_ == DataMode::Passive) FailTransfer();
      return;
  }
}

// ---- uploads ------------------------------------------------------------------------

// Replaces the target now that the data connection exists. A new file is
// made in place of an old one; a restarted upload writes into the existing
// file from its position. Links and special files are never opened.
bool CFTPSession::OpenUploadTarget() {
  const std::string& path = active_.path;
  const std::int64_t restart = active_.offset;
  // The folders on the way were checked when STOR was accepted, and the
  // commands since may have swapped one for a link that leaves the tree: the
  // file is reached through its folder as it is opened now, below a confined
  // account's default directory.
  int opened = 0;
  std::int64_t position = restart;
  if (active_.write == Transfer::Write::Unique) {
    // The name was taken by STOU itself.
    storTarget_ = std::move(active_.target);
    storTarget_.Started();
    opened = active_.file ? active_.file.release() : -EBADF;
  } else if (restart == 0 && active_.write == Transfer::Write::Replace) {
    opened = storTarget_.Create(*directory_, path, Options().AtomicUploads);
    if (opened == -EISDIR || opened == -EPERM) {
      SendReply(reply::kCannotDelete);
      return false;
    }
  } else {
    opened = storTarget_.OpenExisting(*directory_, path);
  }
  if (opened == CDirectory::kOutside) {
    SendReply(reply::kNoAccess);
    return false;
  }
  if (opened == -ELOOP || opened == -ENXIO || opened == -EISDIR) {
    // Links and special files are never written.
    storTarget_.Abandon();
    SendReply(opened == -EISDIR ? reply::kCannotDelete : reply::kNotRegularFile);
    return false;
  }
  storFile_ = platform::UniqueFd(opened);
  const bool inPlace = active_.write == Transfer::Write::Append ||
                       (active_.write == Transfer::Write::Replace && restart != 0);
  if (storFile_ && inPlace) {
    struct stat st{};
    if (::fstat(storFile_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      storFile_.reset();
      storTarget_.Abandon();
      SendReply(reply::kNotRegularFile);
      return false;
    }
    if (active_.write == Transfer::Write::Append) {
      position = st.st_size;
    } else if (::ftruncate(storFile_.get(), restart) != 0) {
      // A resumed upload continues where the client says it stopped.
      storFile_.reset();
    }
  }
  if (!storFile_) {
    storTarget_.Abandon();
    SendReply(reply::kLocalError);
    return false;
  }
  storFilePath_ = path;
  storOffset_ = position;
  storFailed_ = false;
  return true;
}

void CFTPSession::pCommandSTOR(std::string_view bytData) {
  if (!storFile_ || storFailed_) return;
  // Small arrivals are gathered and written in large pieces; large ones go
  // to the file as they are. Either way a transfer holds a bounded amount.
  const bool direct = bytData.size() >= kUploadBuffer / 2;
  if (!storBuffer_.empty() && (direct || storBuffer_.size() + bytData.size() > kUploadBuffer)) FlushUpload();
  if (direct) {
    WriteUpload(bytData.data(), bytData.size());
    return;
  }
  storBuffer_.append(bytData);
}

void CFTPSession::FlushUpload() {
  WriteUpload(storBuffer_.data(), storBuffer_.size());
  storBuffer_.clear();
}

void CFTPSession::WriteUpload(const char* data, std::size_t left) {
  while (left > 0 && storFile_ && !storFailed_) {
    const ssize_t n = ::pwrite(storFile_.get(), data, left, static_cast<off_t>(storOffset_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The upload cannot be completed as sent; the client hears so at the
      // end instead of a success.
      storFailed_ = true;
      if (CLog* log = table_.Services().errorLog) {
        log->LogData(ErrorLogLine(std::to_string(errno), "Write to " + storFilePath_ + " failed", "pCommandSTOR"));
      }
      break;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
    storOffset_ += n;
  }
}

// The upload ends: every received byte is written before the answer, which
// is a success only when the client closed cleanly and every write worked.
void CFTPSession::EndUpload(bool error) {
  FlushUpload();
  bool failed = storFailed_;
  WaitingForSTORFile = false;
  storFile_.reset();
  if (error || failed) {
    storTarget_.Abandon();
  } else if (const int rc = storTarget_.Commit(); rc != 0) {
    failed = true;
    if (CLog* log = table_.Services().errorLog) {
      log->LogData(ErrorLogLine(std::to_string(-rc), "Renaming the upload to " + storFilePath_ + " failed", "STOR"));
    }
  }
  std::string().swap(storBuffer_);  // an idle session holds no upload buffer
  storFilePath_.clear();
  storFailed_ = false;
  LogTransfer(!error && !failed);
  active_ = Transfer{};
  host_->CloseData();
  SendReply(error ? reply::kAbortedByPeer : failed ? reply::kLocalError : reply::kTransferCompleted);
}

// The line is written as the transfer ends, whatever ended it; a download
// that broke off counts what the client had taken of it.
void CFTPSession::LogTransfer(bool complete) {
  CTransferLog* log = table_.Services().transferLog;
  const bool download = active_.kind == Transfer::Kind::Retr;
  if (log == nullptr || !log->IsOpen() || (!download && active_.kind != Transfer::Kind::Stor)) return;
  TransferRecord record;
  record.seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - active_.started).count();
  record.remoteHost = info_.clientAddress;
  record.bytes = !download  ? active_.received
                 : complete ? active_.length
                            : std::clamp<std::int64_t>(host_->DataBytesTaken() - active_.takenBefore, 0, active_.length);
  record.path = active_.shownPath;
  record.ascii = active_.ascii;
  record.incoming = !download;
  record.anonymous = active_.anonymous;
  record.user = active_.user;
  record.complete = complete;
  log->Write(TransferLogLine(record));
}

// ---- the data connection --------------------------------------------------------

void CFTPSession::ClosePassiveListener() {
  if (passiveOpen_) host_->ClosePassive();
  passiveOpen_ = false;
  DataPortToListenOn.clear();
}

void CFTPSession::CloseDataConnection() {
  if (dataConnected_ || connecting_) host_->CloseData();
  dataConnected_ = false;
  connecting_ = false;
}

void CFTPSession::Close() {
  CancelWait();
  pending_ = Transfer{};
  if (active_.kind == Transfer::Kind::Stor) {
    // What arrived of an interrupted upload is kept.
    FlushUpload();
  }
  storFile_.reset();
  storTarget_.Abandon();
  LogTransfer(false);
  active_ = Transfer{};
  WaitingForSTORFile = false;
  controlListing_.reset();
  ClosePassiveListener();
  CloseDataConnection();
}

}  // namespace velto
