// Data connections and transfers: PORT, PASV, TYPE, REST, RETR, STOR, ABOR
// and the session's side of the data connection's life.
//
// A transfer command answers its preliminary reply, then runs as soon as the
// data connection exists: at once when the client is already connected to
// the passive listener, when it connects (up to kPassiveWaitMs), or when the
// outgoing connection of active mode is made (non-blocking, bounded by
// kActiveConnectMs). Downloads are handed to the component as file ranges,
// so a transfer's memory does not grow with the file.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "ftp/replies.h"
#include "server/globals.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cmath>
#include <random>

namespace velto {

namespace {

constexpr std::uint32_t kPassiveWaitMs = 60000;
constexpr std::int32_t kActiveConnectMs = 30000;
constexpr int kPassivePortTries = 20;
// Completion of a download is announced in parts of at most this many
// bytes, since the component counts sent bytes in 32 bits.
constexpr std::int64_t kCompletionPart = std::int64_t{1} << 30;
constexpr const char* kRetrPartId = "RETR-PART";
// Upload bytes gathered before one write.
constexpr std::size_t kUploadBuffer = 256 * 1024;

using reply::Line;

std::mt19937& Random() {
  static std::mt19937 generator{std::random_device{}()};
  return generator;
}

// A random passive port from 1025 to 65535, outside the range the system
// hands out to outgoing connections: a port taken by some client's
// connection there would make the listener fail.
int PassivePort() {
  static const auto range = [] {
    int low = 32768;
    int high = 60999;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
      if (std::fscanf(f, "%d %d", &low, &high) != 2) {
        low = 32768;
        high = 60999;
      }
      std::fclose(f);
    }
    low = std::clamp(low, 1025, 65536);
    high = std::clamp(high, low - 1, 65535);
    return std::pair<int, int>(low, high);
  }();
  const int below = range.first - 1025;  // ports 1025 .. low-1
  const int above = 65535 - range.second;  // ports high+1 .. 65535
  if (below + above <= 0) return std::uniform_int_distribution<int>(1025, 65535)(Random());
  const int pick = std::uniform_int_distribution<int>(0, below + above - 1)(Random());
  return pick < below ? 1025 + pick : range.second + 1 + (pick - below);
}

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

bool RegularFile(const std::string& path, std::int64_t* size = nullptr) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size != nullptr) *size = st.st_size;
  return true;
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
  std::string peer;
  if (!ControlPeer(peer) || peer != address || port < 1024) return Line(reply::kIllegalPort);

  ClosePassiveListener();
  dataHostAddress_ = address;
  DataPortToConnectOn = std::to_string(port);
  passiveMode_ = false;
  SendReply(reply::kOk);
  return {};
}

std::string CFTPSession::CmdPASV(const ParsedCommand&) {
  ClosePassiveListener();
  CPortwell& pw = *g_.gobjPortwell;
  std::int32_t listener = -1;
  int port = 0;
  for (int attempt = 0; attempt < kPassivePortTries && listener == -1; ++attempt) {
    port = PassivePort();
    listener = pw.AddListener(port, PWL_TCPIP, -1, 5);
  }
  pw.LastSockErr();  // a refused port is expected here; do not leave it behind
  if (listener == -1) {
    DataPortToListenOn.clear();
    return Line(reply::kCantOpenData);
  }
  SocketHandleDataListener = listener;
  DataPortToListenOn = std::to_string(port);
  passiveMode_ = true;
  // The address the client reached this server on: the control
  // connection's own local address.
  std::string address;
  try {
    address = pw.ItemByKey(controlSocketHandle_).LocalIP;
  } catch (const std::exception&) {
  }
  if (address.empty()) address = pw.LocalHostIP(g_.gnFTPBindToIP > 0 ? g_.gnFTPBindToIP : 0);
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
  std::int64_t size = 0;
  const auto found = directory_->Locate(command.argument, account->LimitToDefaultDirectory,
                                        [&size](const std::string& path) { return RegularFile(path, &size); });
  if (found.result == CDirectory::Lookup::Refused) return Line(reply::kNoAccess);
  if (found.result == CDirectory::Lookup::NotFound) return Line(reply::kFileNotFound);
  const std::string& path = found.path;
  const std::int64_t offset = FilePos;
  FilePos = 0;
  if (offset > size) return Line(reply::kBadRestart);
  Transfer t;
  t.kind = Transfer::Kind::Retr;
  t.path = path;
  t.offset = offset;
  t.length = size - offset;
  BeginTransfer(std::move(t), reply::kOpening);
  return {};
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

  storFilePath_ = target.path;
  const std::int64_t restart = FilePos;
  FilePos = 0;
  struct stat st{};
  const bool exists = ::lstat(storFilePath_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    storFilePath_.clear();
    return Line(reply::kCannotDelete);
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (exists && restart == 0) {
    // Replace: a read-only file too (its owner may write it again first).
    ::chmod(storFilePath_.c_str(), (st.st_mode & 07777) | S_IWUSR);
    if (::unlink(storFilePath_.c_str()) != 0) {
      storFilePath_.clear();
      return Line(reply::kCannotDelete);
    }
  }
  // The file exists from here on, even if the client sends nothing.
  storFile_ = platform::UniqueFd(::open(storFilePath_.c_str(), flags, 0644));
  if (!storFile_) {
    storFilePath_.clear();
    return Line(reply::kLocalError);
  }
  // A resumed upload continues where the client says it stopped.
  storOffset_ = restart;
  if (restart > 0 && ::ftruncate(storFile_.get(), restart) != 0) {
    storFile_.reset();
    storFilePath_.clear();
    return Line(reply::kLocalError);
  }
  storFailed_ = false;
  Transfer t;
  t.kind = Transfer::Kind::Stor;
  BeginTransfer(std::move(t), reply::kOpening);
  return {};
}

std::string CFTPSession::CmdABOR(const ParsedCommand&) {
  CancelWait();
  pending_ = Transfer{};
  if (WaitingForSTORFile || storFile_) {
    FlushUpload();
    WaitingForSTORFile = false;
    storFile_.reset();
    storFilePath_.clear();
  }
  active_ = Transfer::Kind::None;
  CloseDataConnection();
  return Line(reply::kAborted);
}

// ---- uploads ------------------------------------------------------------------------

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
      g_.LogError(errno, "Write to " + storFilePath_ + " failed", "pCommandSTOR");
      break;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
    storOffset_ += n;
  }
}

void CFTPSession::EndUpload() {
  FlushUpload();
  const bool failed = storFailed_;
  WaitingForSTORFile = false;
  FilePos = 0;
  storFile_.reset();
  std::string().swap(storBuffer_);  // an idle session holds no upload buffer
  storFilePath_.clear();
  storFailed_ = false;
  active_ = Transfer::Kind::None;
  SendReply(failed ? reply::kLocalError : reply::kTransferCompleted);
}

// ---- the data connection --------------------------------------------------------

bool CFTPSession::ControlPeer(std::string& address) const {
  try {
    address = g_.gobjPortwell->RemoteHostIP(controlSocketHandle_);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool CFTPSession::AcceptsDataConnection(const std::string& portText, const std::string& peer) const {
  if (!passiveMode_ || DataPortToListenOn != portText) return false;
  // Only the client of this session may connect to its passive port.
  std::string own;
  return ControlPeer(own) && own == peer;
}

void CFTPSession::BeginTransfer(Transfer transfer, std::string_view preliminary) {
  CancelWait();
  SendReply(preliminary);
  pending_ = std::move(transfer);
  CPortwell& pw = *g_.gobjPortwell;
  if (!passiveMode_) {
    if (dataHostAddress_.empty() || DataPortToConnectOn.empty()) {
      FailTransfer();
      return;
    }
    CloseDataConnection();
    const std::int32_t handle =
        pw.ConnectAsync(dataHostAddress_, std::stoi(DataPortToConnectOn), PWL_TCPIP, 0, kActiveConnectMs);
    if (handle <= 0) {
      pw.LastSockErr();
      FailTransfer();
      return;
    }
    SetPendingConnect(handle);
    return;
  }
  if (SocketHandleData() > 0 && pw.ItemExists(std::to_string(SocketHandleData()))) {
    StartTransfer(SocketHandleData());
    return;
  }
  if (SocketHandleDataListener <= 0) {
    FailTransfer();
    return;
  }
  // The client has not connected yet.
  waitTimer_ = g_.loop.SetTimer(kPassiveWaitMs, [this](platform::TimerId) {
    CancelWait();
    if (pending_.kind != Transfer::Kind::None) FailTransfer();
  });
}

void CFTPSession::CancelWait() {
  if (waitTimer_ != 0) g_.loop.KillTimer(waitTimer_);
  waitTimer_ = 0;
}

void CFTPSession::FailTransfer() {
  CancelWait();
  if (pending_.kind == Transfer::Kind::Stor) {
    storFile_.reset();
    storFilePath_.clear();
  }
  pending_ = Transfer{};
  SendReply(reply::kCantOpenData);
}

void CFTPSession::OnDataConnected(std::int32_t handle) {
  CPortwell& pw = *g_.gobjPortwell;
  const std::string key = std::to_string(handle);
  if (handle == pendingConnect_) SetPendingConnect(0);
  SetSocketHandleData(handle);
  try {
    // The end of a data connection needs no grace time: an upload is
    // complete when the client closed and its bytes are written.
    pw.SetLingerTime(key, 1);
    // Uploads are written as received: no widening and narrowing back.
    pw.SetNoUnicodeConversionOnRecv(key, true);
    // The end of a small file must not wait for the peer's delayed ack.
    pw.SetSockOption(key, PWL_TCP_NODELAY, true);
  } catch (const std::exception&) {
  }
  if (pending_.kind != Transfer::Kind::None) {
    CancelWait();
    StartTransfer(handle);
  }
}

void CFTPSession::OnDataConnectFailed(std::int32_t handle) {
  if (handle != pendingConnect_) return;
  SetPendingConnect(0);
  if (pending_.kind != Transfer::Kind::None) FailTransfer();
}

void CFTPSession::StartTransfer(std::int32_t handle) {
  Transfer t = std::move(pending_);
  pending_ = Transfer{};
  CPortwell& pw = *g_.gobjPortwell;
  const std::string key = std::to_string(handle);
  switch (t.kind) {
    case Transfer::Kind::None:
      return;
    case Transfer::Kind::Stor:
      active_ = Transfer::Kind::Stor;
      WaitingForSTORFile = true;
      return;
    case Transfer::Kind::Retr: {
      if (t.length <= 0) {
        SendReply(reply::kTransferCompleted);
        CloseDataConnection();
        return;
      }
      active_ = Transfer::Kind::Retr;
      retrRemaining_ = t.length;
      SendNextPart(handle);
      const std::int32_t err = pw.SendFile(handle, t.path, t.offset, t.length);
      if (err != 0) {
        active_ = Transfer::Kind::None;
        pw.NotifyOnEmptySendQue(key, "", 0);
        g_.LogError(err, "Sending " + t.path + " failed", "RETR");
        SendReply(reply::kLocalError);
        CloseDataConnection();
      }
      return;
    }
    case Transfer::Kind::List:
    case Transfer::Kind::Nlst: {
      if (t.listing.empty()) {
        // Nothing to send: an empty directory is an empty transfer.
        SendReply(reply::kTransferCompleted);
        CloseDataConnection();
        return;
      }
      active_ = t.kind;
      const char* id = t.kind == Transfer::Kind::List ? "LIST" : "NLST";
      pw.NotifyOnEmptySendQue(key, id, static_cast<std::int32_t>(t.listing.size()));
      try {
        pw.SendData(handle, PortwellData(std::move(t.listing)));
      } catch (const PortwellError& e) {
        g_.LogError(e.Number, e.Description, id);
        active_ = Transfer::Kind::None;
        SendReply(reply::kLocalError);
        CloseDataConnection();
      }
      return;
    }
  }
}

// Arms the completion notice for the next part of a download: the last part
// carries "RETR", which the main window answers with the 226.
void CFTPSession::SendNextPart(std::int32_t handle) {
  CPortwell& pw = *g_.gobjPortwell;
  const std::string key = std::to_string(handle);
  if (retrRemaining_ <= kCompletionPart) {
    pw.NotifyOnEmptySendQue(key, "RETR", static_cast<std::int32_t>(retrRemaining_));
    retrRemaining_ = 0;
    return;
  }
  // A part ends on a request boundary, or the count would carry over.
  std::int64_t chunk = 4096;
  try {
    chunk = std::max<std::int32_t>(1, pw.ItemByKey(key).ChunkSize);
  } catch (const std::exception&) {
  }
  const std::int64_t part = (kCompletionPart / chunk) * chunk;
  pw.NotifyOnEmptySendQue(key, kRetrPartId, static_cast<std::int32_t>(part));
  retrRemaining_ -= part;
}

void CFTPSession::OnSendProgress(std::int32_t handle) {
  if (active_ == Transfer::Kind::Retr && handle == SocketHandleData() && retrRemaining_ > 0) SendNextPart(handle);
}

void CFTPSession::OnTransferDone(std::int32_t handle) {
  if (handle != SocketHandleData()) return;
  active_ = Transfer::Kind::None;
  // The connection is closing now; a next transfer must not use it.
  SetSocketHandleData(0);
  SendReply(reply::kTransferCompleted);
}

void CFTPSession::OnDataTerminated(std::int32_t handle) {
  if (handle != SocketHandleData()) return;
  SetSocketHandleData(0);
  if (WaitingForSTORFile) {
    EndUpload();
  } else if (active_ != Transfer::Kind::None) {
    // The client went away before everything was sent.
    active_ = Transfer::Kind::None;
    SendReply(reply::kAbortedByPeer);
  }
}

void CFTPSession::OnDataPeerClosed(std::int32_t handle) {
  if (handle != SocketHandleData() || !WaitingForSTORFile) return;
  // The connection finishes its close on its own; this session is done
  // with it.
  SetSocketHandleData(0);
  EndUpload();
}

void CFTPSession::ClosePassiveListener() {
  if (SocketHandleDataListener > 0) g_.CloseSocket(SocketHandleDataListener, false);
  SocketHandleDataListener = 0;
  DataPortToListenOn.clear();
}

void CFTPSession::CloseDataConnection() {
  const std::int32_t handle = SocketHandleData();
  SetSocketHandleData(0);
  if (handle > 0 && g_.gobjPortwell && g_.gobjPortwell->ItemExists(std::to_string(handle))) {
    g_.CloseSocket(handle, true);
  }
}

void CFTPSession::Close() {
  CancelWait();
  pending_ = Transfer{};
  active_ = Transfer::Kind::None;
  WaitingForSTORFile = false;
  // What arrived of an interrupted upload is kept.
  FlushUpload();
  storFile_.reset();
  ClosePassiveListener();
  CloseDataConnection();
  if (pendingConnect_ > 0) {
    const std::int32_t handle = pendingConnect_;
    SetPendingConnect(0);
    if (g_.gobjPortwell && g_.gobjPortwell->ItemExists(std::to_string(handle))) g_.CloseSocket(handle, false);
  }
}

}  // namespace velto
