// Data connections and transfers: PORT, PASV, TYPE, REST, RETR, STOR, ABOR
// and the session's side of the data connection's life.
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
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "ftp/listing.h"
#include "ftp/replies.h"
#include "log/clog.h"
#include "log/log_lines.h"
#include "users/ftp_users.h"

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

// REST's number: an optional sign, digits, an optional fraction (rounded to
// the nearest, halves to even).
bool RestValue(std::string_view text, double& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text.size() > 40) return false;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') i = 1;
  bool digits = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      digits = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digits) return false;
  value = std::nearbyint(std::stod(std::string(text)));
  return true;
}

// Opens a file to send, without ever blocking (a FIFO would), and only
// when it is a regular file.
platform::UniqueFd OpenRegular(const std::string& path, std::int64_t& size, bool& notRegular) {
  notRegular = false;
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) return fd;
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    notRegular = true;
    return {};
  }
  size = st.st_size;
  return fd;
}

bool ValidFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:*?\"<>|") == std::string::npos;
}

}  // namespace

// ---- commands -----------------------------------------------------------------

std::string CFTPSession::CmdPORT(const ParsedCommand& command) {
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
  const std::string address =
      std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
  const int port = v[4] * 256 + v[5];
  // Data goes only to the client itself, and never to a privileged port:
  // no bounce through this server, no theft of a service's port.
  if (info_.clientAddress != address || port < 1024) return Line(reply::kIllegalPort);

  ClosePassiveListener();
  if (!TransferBusy()) CloseDataConnection();
  dataHostAddress_ = address;
  DataPortToConnectOn = std::to_string(port);
  dataMode_ = DataMode::Active;
  return Line(reply::kOk);
}

std::string CFTPSession::CmdPASV(const ParsedCommand&) {
  ClosePassiveListener();
  if (!TransferBusy()) CloseDataConnection();
  const int port = host_->OpenPassive();
  if (port <= 0) {
    dataMode_ = DataMode::None;
    return Line(reply::kCantOpenData);
  }
  passiveOpen_ = true;
  DataPortToListenOn = std::to_string(port);
  dataMode_ = DataMode::Passive;
  // The address the client reached this server on.
  std::string address = info_.localAddress.empty() ? info_.serverAddress : info_.localAddress;
  for (auto& c : address) {
    if (c == '.') c = ',';
  }
  return Line("227 Entering Passive Mode (" + address + "," + std::to_string(port / 256) + "," +
              std::to_string(port % 256) + ").");
}

std::string CFTPSession::CmdTYPE(const ParsedCommand& command) {
  if (command.argument == "A" || command.argument == "I") {
    TypeMode = command.argument;
    return Line(reply::kOk);
  }
  return Line(reply::kNotImplemented);
}

std::string CFTPSession::CmdREST(const ParsedCommand& command) {
  double value = 0;
  if (command.argument.empty() || !RestValue(command.argument, value) || value < 0 || value > 9.0e18) {
    return Line(reply::kSyntaxMissing);
  }
  FilePos = static_cast<std::int64_t>(value);
  return Line("350 Restarting transfer at " + command.argument + ".");
}

std::string CFTPSession::CmdRETR(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (account == nullptr || !account->ReadAccess) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissing);
  // A limited account never looks outside its tree, not even to learn what
  // exists there.
  const auto found = directory_->Locate(command.argument, account->LimitToDefaultDirectory,
                                        [](const std::string& path) {
                                          struct stat st{};
                                          return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
                                        });
  if (found.result == CDirectory::Lookup::Refused) return Line(reply::kNoAccess);
  if (found.result == CDirectory::Lookup::NotFound) return Line(reply::kFileNotFound);
  std::int64_t size = 0;
  bool notRegular = false;
  Transfer t;
  t.file = OpenRegular(found.path, size, notRegular);
  if (notRegular) return Line(reply::kNotRegularFile);
  if (!t.file) return Line(reply::kFileNotFound);
  const std::int64_t offset = FilePos;
  FilePos = 0;
  if (offset > size) return Line(reply::kBadRestart);
  t.kind = Transfer::Kind::Retr;
  t.offset = offset;
  t.length = size - offset;
  return BeginTransfer(std::move(t), reply::kOpening);
}

std::string CFTPSession::CmdSTOR(const ParsedCommand& command) {
  const CFTPUser* account = Account();
  if (account == nullptr || !account->WriteAccess) return Line(reply::kNoAccess);
  if (command.argument.empty()) return Line(reply::kSyntaxMissingOrIncorrect);
  const auto target = directory_->Locate(command.argument, account->LimitToDefaultDirectory,
                                         [this](const std::string& path) {
                                           const auto slash = path.rfind('/');
                                           return directory_->DirExists(path.substr(0, slash + 1)) &&
                                                  ValidFileName(path.substr(slash + 1));
                                         });
  if (target.result != CDirectory::Lookup::Found) return Line(reply::kNoAccess);
  const std::int64_t restart = FilePos;
  FilePos = 0;
  struct stat st{};
  if (::lstat(target.path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Line(reply::kCannotDelete);
    // Only a regular file is written: never a FIFO, a device, a socket, or
    // whatever a link points at.
    if (!S_ISREG(st.st_mode)) return Line(reply::kNotRegularFile);
  }
  Transfer t;
  t.kind = Transfer::Kind::Stor;
  t.path = target.path;
  t.offset = restart;
  return BeginTransfer(std::move(t), reply::kOpening);
}

std::string CFTPSession::CmdABOR(const ParsedCommand&) {
  CancelWait();
  pending_ = Transfer{};
  if (active_.kind == Transfer::Kind::Stor) {
    // What arrived is kept.
    FlushUpload();
    storFile_.reset();
    storFilePath_.clear();
    WaitingForSTORFile = false;
  }
  active_ = Transfer{};
  CloseDataConnection();
  return Line(reply::kAborted);
}

// ---- the transfer's life ---------------------------------------------------------

bool CFTPSession::TransferBusy() const {
  return pending_.kind != Transfer::Kind::None || active_.kind != Transfer::Kind::None;
}

std::string CFTPSession::BeginTransfer(Transfer transfer, std::string_view preliminary) {
  if (TransferBusy()) return Line(reply::kTransferRunning);
  SendReply(preliminary);
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
  if (pending_.kind != Transfer::Kind::None) FailTransfer();
}

void CFTPSession::StartTransfer() {
  active_ = std::move(pending_);
  pending_ = Transfer{};
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
  std::string piece;
  const bool more = active_.listing && active_.listing->Next(piece, kListingPiece);
  if (!more) active_.listing.reset();
  if (piece.empty()) {
    // Nothing (more) to send: an empty directory is an empty transfer.
    FinishTransfer(reply::kTransferCompleted);
    return;
  }
  if (!host_->SendData(std::move(piece))) FinishTransfer(reply::kLocalError);
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
  active_ = Transfer{};
  CloseDataConnection();
  SendReply(replyText);
}

void CFTPSession::OnDataReceived(std::string_view bytes) {
  if (active_.kind != Transfer::Kind::Stor) return;
  lastAccess_ = std::chrono::steady_clock::now();
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
  // The folders on the way were checked when STOR was accepted, but the
  // commands since may have renamed a link that leaves the tree into their
  // place: a confined account's target is checked again as it is written.
  const CFTPUser* account = Account();
  if ((account == nullptr || account->LimitToDefaultDirectory) && !directory_->Contains(path, true)) {
    SendReply(reply::kNoAccess);
    return false;
  }
  struct stat st{};
  const bool exists = ::lstat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    SendReply(S_ISDIR(st.st_mode) ? reply::kCannotDelete : reply::kNotRegularFile);
    return false;
  }
  if (restart == 0) {
    if (exists && ::unlink(path.c_str()) != 0) {
      SendReply(reply::kCannotDelete);
      return false;
    }
    storFile_ = platform::UniqueFd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644));
  } else {
    storFile_ = platform::UniqueFd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644));
    struct stat opened{};
    if (storFile_ && (::fstat(storFile_.get(), &opened) != 0 || !S_ISREG(opened.st_mode))) {
      storFile_.reset();
      SendReply(reply::kNotRegularFile);
      return false;
    }
    // A resumed upload continues where the client says it stopped.
    if (storFile_ && ::ftruncate(storFile_.get(), restart) != 0) storFile_.reset();
  }
  if (!storFile_) {
    SendReply(reply::kLocalError);
    return false;
  }
  storFilePath_ = path;
  storOffset_ = restart;
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
  const bool failed = storFailed_;
  WaitingForSTORFile = false;
  storFile_.reset();
  std::string().swap(storBuffer_);  // an idle session holds no upload buffer
  storFilePath_.clear();
  storFailed_ = false;
  active_ = Transfer{};
  host_->CloseData();
  SendReply(error ? reply::kAbortedByPeer : failed ? reply::kLocalError : reply::kTransferCompleted);
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
  active_ = Transfer{};
  WaitingForSTORFile = false;
  ClosePassiveListener();
  CloseDataConnection();
}

}  // namespace velto
