#include "portwell/winsock.h"

#include "portwell/debug_log.h"
#include "portwell/resolver.h"
#include "portwell/winsocks.h"
#include "platform/event_loop.h"
#include "platform/winsock_errors.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace portwell {

namespace {

constexpr std::size_t kReceiveLimit = 32767;
// Bytes one sendfile call may move (the kernel's own limit per call).
constexpr std::int64_t kSendFileMax = 0x7FFFF000;
// Gather entries per writev: the system's limit.
constexpr int kMaxVectors = 1024;
// The close-time drain reads at most this many blocks; anything behind them
// arrives through read notifications while the socket lingers, so a peer
// that keeps sending cannot hold the thread.
constexpr int kMaxDrainReads = 64;
// File ranges larger than this are sent corked: with TCP_NODELAY every
// sendfile call would otherwise end in a short segment.
constexpr std::int64_t kCorkAbove = 256 * 1024;

platform::EventLoop& Loop() { return platform::EventLoop::Instance(); }

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

std::int64_t RequestCount(const std::vector<CompletionRun>& runs) {
  std::int64_t n = 0;
  for (const auto& r : runs) n += r.count;
  return n;
}

}  // namespace

CWinsock::CWinsock() = default;

CWinsock::~CWinsock() {
  receiveQueue_.Clear();
  sendQueue_.Clear();
  mobjLingerTimer.reset();
  connectTimer_.reset();
  PWL_DEBUG("CWinsock::ClassTerminate - Closed socket " + std::to_string(SocketHandle) + " and destroyed class");
  CloseSock();
}

void CWinsock::RegisterCWinsocks(CWinsocks* registry) {
  registry_ = registry;
  if (registry_ != nullptr) ChunkSize = registry_->ChunkSize();
}

void CWinsock::UnRegisterCWinsocks() { registry_ = nullptr; }

void CWinsock::Adopt(platform::UniqueFd fd) {
  fd_ = std::move(fd);
  SocketHandle = fd_.get();
}

std::string CWinsock::LocalIP() {
  if (!localIpKnown_ && fd_) {
    localIp_ = LocalAddressText(fd_.get());
    localIpKnown_ = !localIp_.empty();
  }
  return localIp_;
}

void CWinsock::SetProtocol(PWL_PROTOCOL value) {
  if (!added_) protocol_ = value;
}

void CWinsock::SetLingerTime(std::int32_t milliseconds) {
  if (milliseconds >= 1 && milliseconds <= 60000) lingerTime_ = milliseconds;
}

std::string CWinsock::RemoteHostName() const { return ReverseName(RemoteHostIP); }

void CWinsock::SetState(PWL_SOCK_STATE value) {
  state_ = value;
  if (registry_ != nullptr) registry_->RaiseEventConnectionStatus(SocketHandle, value);
}

std::int32_t CWinsock::QueSendCount() const {
  return static_cast<std::int32_t>(std::min<std::int64_t>(sendQueue_.Count(), INT32_MAX));
}

std::int64_t CWinsock::QueSendBytes() const {
  std::int64_t bytes = sendQueue_.Bytes();
  for (const auto& run : pendingRuns_) bytes += run.length * run.count;
  return bytes;
}

void CWinsock::CloseSock() {
  if (fd_) {
    // The descriptor is closed right after: closing it also takes it out of
    // the loop's poll set.
    Loop().Unwatch(fd_.get(), true);
    // After a graceful close the FIN is already queued; a second shutdown
    // would only fail.
    if (!writeShut_) ::shutdown(fd_.get(), SHUT_RDWR);
    fd_.reset();
  }
  const auto life = Life();
  SetState(PWL_CLOSED);
  if (life.expired()) return;
  SocketHandle = 0;
}

std::int32_t CWinsock::Listen(std::int32_t port, int socketType, std::int32_t adapterNumber, std::int32_t backLog) {
  std::optional<SocketAddress> address;
  if (port >= 0 && port < 65535 && registry_ != nullptr) {
    std::uint32_t v4 = htonl(INADDR_ANY);
    if (adapterNumber >= 0) v4 = DottedAddress(registry_->LocalHostIPAt(adapterNumber));
    if (v4 != kInvalidAddress || adapterNumber < 0) address = SocketAddress::V4(v4, static_cast<std::uint16_t>(port));
  }
  return ListenAt(address ? &*address : nullptr, 0, port, socketType, backLog);
}

std::int32_t CWinsock::ListenOn(std::int32_t port, const std::string& addressText, std::int32_t backLog) {
  std::optional<SocketAddress> address;
  int error = 10022;
  if (port >= 0 && port < 65535) {
    address = SocketAddress::FromLiteral(addressText, static_cast<std::uint16_t>(port));
    error = 10049;
  }
  return ListenAt(address ? &*address : nullptr, error, port, SOCK_STREAM, backLog);
}

std::int32_t CWinsock::ListenAt(const SocketAddress* address, int refusal, std::int32_t port, int socketType,
                                std::int32_t backLog) {
  int error = refusal;
  platform::UniqueFd s;
  std::int32_t boundPort = port;
  bool ok = false;
  do {
    if (address == nullptr || registry_ == nullptr) break;
    error = 0;
    s = platform::UniqueFd(::socket(address->Family(), socketType | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s) {
      error = LastSystemError();
      break;
    }
    if (socketType == SOCK_STREAM) {
      // A restarted listener takes its port back while old connections of it
      // still wait out their close, as the classic stack allows.
      int one = 1;
      ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    if (address->Family() == AF_INET6) {
      // IPv6 only: "::" must not take the port's IPv4 connections, which
      // belong to an IPv4 listener of the same port (or to nobody).
      int one = 1;
      if (::setsockopt(s.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) {
        error = LastSystemError();
        break;
      }
    }
    if (::bind(s.get(), address->Data(), address->Length()) != 0) {
      error = LastSystemError();
      break;
    }
    // listen comes before the registration with the loop, which tells a
    // listening socket from a connected one when it registers it.
    if (socketType == SOCK_STREAM && ::listen(s.get(), backLog) != 0) {
      error = LastSystemError();
      break;
    }
    if (!Loop().AsyncSelect(s.get(), registry_->HwndMsgs(), platform::kSocketMessage,
                            platform::kFdRead | platform::kFdWrite | platform::kFdAccept | platform::kFdClose,
                            socketType == SOCK_STREAM ? platform::EventLoop::SocketKind::Listener
                                                      : platform::EventLoop::SocketKind::Datagram)) {
      error = LastSystemError();
      break;
    }
    if (port == 0) boundPort = LocalPortOf(s.get());
    ok = true;
  } while (false);

  if (!ok) {
    PWL_DEBUG("CWinsock::Listen - Error " + std::to_string(error) + " (" + platform::SocketErrorText(error) +
              ") on port " + std::to_string(port));
    if (s) Loop().Unwatch(s.get());
    s.reset();
    CWinsocks* registry = registry_;
    const auto life = Life();
    SetState(PWL_ERROR);
    if (!life.expired() && registry != nullptr) registry->SetLastSockErr(error);
    return -1;
  }
  LocalPort = boundPort;
  AddressFamily = address->FamilyNumber();
  // A listener has no connection to shut down when it closes.
  if (socketType == SOCK_STREAM) writeShut_ = true;
  PWL_DEBUG("CWinsock::Listen - Created listening socket (local port " + std::to_string(port) + ", socket handle " +
            std::to_string(s.get()) + ")");
  Adopt(std::move(s));
  return SocketHandle;
}

// ---- sending ------------------------------------------------------------------

void CWinsock::SendDataWhenReady(const PortwellData& data, const std::string& remoteHostUDP,
                                 std::int32_t remotePortUDP) {
  CWinsocks* registry = registry_;
  if (registry == nullptr) return;
  // Under TLS everything goes through the queue: it is encrypted there.
  const bool straight = protocol_ == PWL_TCPIP && sendQueue_.Empty() && !connecting_ && !writeBlocked_ &&
                        !shutdownPending_ && fd_ && !data.Empty() && !tls_;
  if (!straight) {
    WrapAdd(registry->RequestsToSendReceived, sendQueue_.AddRequests(data, ChunkSize, remoteHostUDP, remotePortUDP));
    SendQueued(SendPath::Direct);
    return;
  }
  // Nothing waits before this data: the system takes what it can straight
  // from the caller's memory and only the rest is copied into the queue.
  long taken = 0;
  if (data.IsText()) {
    std::string bytes = data.ToBytes();
    taken = Loop().Send(fd_.get(), bytes.data(), bytes.size());
    const int error = errno;
    WrapAdd(registry->RequestsToSendReceived, sendQueue_.AddOwnedBytes(std::move(bytes), ChunkSize));
    if (taken < 0 && WouldBlock(error)) writeBlocked_ = true;
  } else {
    taken = Loop().Send(fd_.get(), data.Bytes().data(), data.Bytes().size());
    const int error = errno;
    WrapAdd(registry->RequestsToSendReceived,
            sendQueue_.AddRequests(data, ChunkSize, remoteHostUDP, remotePortUDP, std::max<long>(taken, 0)));
    if (taken < 0 && WouldBlock(error)) writeBlocked_ = true;
  }
  if (taken > 0) {
    std::vector<CompletionRun> runs;
    sendQueue_.Advance(taken, runs);
    if (DebugOn()) {
      for (const auto& r : runs) {
        for (std::int64_t i = 0; i < r.count; ++i) LogSent(SendPath::Direct, r.length);
      }
      if (!sendQueue_.Empty()) {
        const SendSegment& head = sendQueue_.Head();
        LogPartial(SendPath::Direct, head.sent % head.chunkSize, head.RequestLength(head.completed));
      }
    }
    if (!Complete(runs)) return;
  }
  SendQueued(SendPath::Direct);
}

void CWinsock::QueueFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length, std::int32_t chunkSize) {
  CWinsocks* registry = registry_;
  if (registry == nullptr) return;
  WrapAdd(registry->RequestsToSendReceived, sendQueue_.AddFileRange(std::move(file), offset, length, chunkSize));
}

SendOutcome CWinsock::SendAllDataForConnection() {
  writeBlocked_ = false;
  // Under TLS handshake records, alerts and close_notify wait too.
  if (sendQueue_.Empty() && !(tls_ && (tls_->HasOutput() || shutdownPending_))) return SendOutcome::Idle;
  return SendQueued(SendPath::WriteReady);
}

SendOutcome CWinsock::SendQueued(SendPath path) {
  if (tls_ && tls_->phase() != TlsLayer::Phase::Clear) return SendTls(path, true);
  if (sendQueue_.Empty()) return SendOutcome::Idle;
  const std::int64_t budget = sendQueue_.Count();
  const auto life = Life();
  const SendOutcome outcome =
      protocol_ == PWL_TCPIP ? SendStream(path, budget) : SendDatagrams(path, budget);
  if (life.expired()) return SendOutcome::Destroyed;
  // The clear text went in this round: what follows waits for the handshake.
  if (tls_ && tls_->phase() != TlsLayer::Phase::Clear) return SendTls(path, true);
  if (shutdownPending_ && sendQueue_.Empty() && fd_) {
    shutdownPending_ = false;
    ::shutdown(fd_.get(), SHUT_WR);
    writeShut_ = true;
  }
  return outcome;
}

SendOutcome CWinsock::SendStream(SendPath path, std::int64_t budget) {
  std::int64_t done = 0;
  std::vector<CompletionRun> runs;
  while (true) {
    if (sendQueue_.Empty()) return SendOutcome::Done;
    if (done >= budget) return SendOutcome::Done;
    if (!fd_ || connecting_) return SendOutcome::Blocked;
    runs.clear();
    if (sendQueue_.Head().Remaining() == 0) {
      // A request of no bytes (an empty file range) completes on its own.
      sendQueue_.Advance(0, runs);
      done += RequestCount(runs);
      if (!Complete(runs)) return SendOutcome::Destroyed;
      continue;
    }
    if (writeBlocked_) {
      LogBlocked(path);
      return SendOutcome::Blocked;
    }
    // StartTls's clear text is the last thing sent in clear.
    const std::int64_t clearLimit = tls_ ? tls_->clearLeft : INT64_MAX;
    if (clearLimit <= 0) return SendOutcome::Done;
    const SendSegment& head = sendQueue_.Head();
    // A corked range that left the queue unsent (cleared) leaves no cork on.
    if (corkLeft_ > 0 && (!head.isFile || head.Remaining() != corkLeft_)) Uncork();
    const std::int64_t headRequestLeft = head.HeadRequestEnd() - head.sent;
    const std::int64_t headRequestLength = head.RequestLength(head.completed);
    std::int64_t attempted = 0;
    long n = 0;
    if (head.isFile) {
      if (head.sent == 0 && corkLeft_ == 0 && !corkedByClient_ && head.length > kCorkAbove) {
        int on = 1;
        if (::setsockopt(fd_.get(), IPPROTO_TCP, TCP_CORK, &on, sizeof on) == 0) corkLeft_ = head.length;
      }
      attempted = std::min({head.Remaining(), kSendFileMax, clearLimit});
      std::int64_t offset = head.fileOffset + head.sent;
      n = Loop().SendFile(fd_.get(), head.file.get(), &offset, static_cast<std::size_t>(attempted));
      if (n == 0) {
        // The file ended before the range: what was promised cannot be sent.
        return SendFailed(EIO);
      }
      if (n > 0 && corkLeft_ > 0) {
        corkLeft_ -= std::min<std::int64_t>(n, corkLeft_);
        // The range is out: its last partial segment goes now, before the
        // completion is reported.
        if (corkLeft_ == 0) Uncork();
      }
    } else {
      iovec vectors[kMaxVectors];
      int count = sendQueue_.GatherHead(vectors, kMaxVectors);
      for (int i = 0; i < count; ++i) {
        const auto length = static_cast<std::int64_t>(vectors[i].iov_len);
        if (attempted + length >= clearLimit) {
          vectors[i].iov_len = static_cast<std::size_t>(clearLimit - attempted);
          count = i + 1;
        }
        attempted += static_cast<std::int64_t>(vectors[i].iov_len);
      }
      n = count == 1 ? Loop().Send(fd_.get(), vectors[0].iov_base, vectors[0].iov_len)
                     : Loop().SendV(fd_.get(), vectors, count);
    }
    if (n < 0) return SendRefused(path);
    sendQueue_.Advance(n, runs);
    if (DebugOn()) {
      for (const auto& r : runs) {
        for (std::int64_t i = 0; i < r.count; ++i) LogSent(path, r.length);
      }
      if (n < attempted && !sendQueue_.Empty()) {
        const SendSegment& now = sendQueue_.Head();
        const std::int64_t inHead = runs.empty() ? n : now.sent % now.chunkSize;
        LogPartial(path, inHead, runs.empty() ? headRequestLeft : now.RequestLength(now.completed));
      }
    }
    (void)headRequestLength;
    done += RequestCount(runs);
    if (!Complete(runs)) return SendOutcome::Destroyed;
    if (tls_ && tls_->phase() == TlsLayer::Phase::Clear) {
      tls_->clearLeft -= n;
      if (tls_->clearLeft <= 0) {
        BeginHandshake();
        return SendOutcome::Done;
      }
    }
    // A partial send: what is left of the head request is tried again at
    // once (the system usually answers "would block").
  }
}

SendOutcome CWinsock::SendDatagrams(SendPath path, std::int64_t budget) {
  std::int64_t done = 0;
  std::vector<CompletionRun> runs;
  while (true) {
    if (sendQueue_.Empty()) return SendOutcome::Done;
    if (done >= budget) return SendOutcome::Done;
    if (!fd_) return SendOutcome::Blocked;
    const SendSegment& head = sendQueue_.Head();
    const std::string& host = !head.remoteHostUDP.empty() ? head.remoteHostUDP : RemoteHostIP;
    const std::int32_t port = head.remotePortUDP != 0 ? head.remotePortUDP : RemotePort;
    const sockaddr_in to = MakeAddress(DottedAddress(host), static_cast<std::uint16_t>(port));
    const std::int64_t length = head.HeadRequestEnd() - head.sent;
    const long n = Loop().SendTo(fd_.get(), head.Next(), static_cast<std::size_t>(length), &to, sizeof to);
    if (n < 0) return SendRefused(path);
    if (n < length) {
      LogBlocked(path);
      return SendOutcome::Blocked;
    }
    runs.clear();
    sendQueue_.Advance(n, runs);
    if (DebugOn()) LogSent(path, n);
    done += RequestCount(runs);
    if (!Complete(runs)) return SendOutcome::Destroyed;
  }
}

bool CWinsock::Complete(const std::vector<CompletionRun>& runs) {
  for (const auto& r : runs) {
    if (!pendingRuns_.empty() && pendingRuns_.back().length == r.length) {
      pendingRuns_.back().count += r.count;
    } else {
      pendingRuns_.push_back(r);
    }
  }
  // Completions found while an EmptySendQue handler runs (it may send on
  // this socket) wait behind the ones already due, so events keep the order
  // of the requests.
  if (completing_) return true;
  completing_ = true;
  const auto life = Life();
  try {
    if (!CompleteDue()) return false;
  } catch (...) {
    // A handler failed: the rest stays due for the next round.
    if (!life.expired()) completing_ = false;
    throw;
  }
  completing_ = false;
  return true;
}

bool CWinsock::CompleteDue() {
  const auto life = Life();
  while (!pendingRuns_.empty()) {
    CompletionRun& run = pendingRuns_.front();
    CWinsocks* registry = registry_;
    if (registry == nullptr) {
      pendingRuns_.clear();
      break;
    }
    if (notifyId_.empty()) {
      // Nothing armed: the same arithmetic in one go.
      WrapAdd(registry->RequestsToSendProcessed, run.count);
      for (std::int64_t i = 0; i < run.count; ++i) {
        const std::int64_t sum = static_cast<std::int64_t>(bytesSent_) + run.length;
        bytesSent_ = sum >= INT32_MAX ? 0 : static_cast<std::int32_t>(sum);
      }
      pendingRuns_.pop_front();
      continue;
    }
    WrapAdd(registry->RequestsToSendProcessed, 1);
    const std::int64_t sum = static_cast<std::int64_t>(bytesSent_) + run.length;
    bytesSent_ = sum >= INT32_MAX ? 0 : static_cast<std::int32_t>(sum);
    if (--run.count == 0) pendingRuns_.pop_front();
    if (!notifyId_.empty() && bytesSent_ >= notifyBytes_) {
      registry->RaiseEventEmptySendQue(SocketHandle, notifyId_);
      if (life.expired()) return false;
    }
  }
  return true;
}

void CWinsock::Uncork() {
  corkLeft_ = 0;
  int off = 0;
  if (fd_) ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_CORK, &off, sizeof off);
}

// A send the system refused (errno set): full buffers wait for write
// readiness, anything else fails the socket.
SendOutcome CWinsock::SendRefused(SendPath path) {
  const int error = errno;
  if (!WouldBlock(error)) return SendFailed(error);
  writeBlocked_ = true;
  LogBlocked(path);
  return SendOutcome::Blocked;
}

SendOutcome CWinsock::SendFailed(int error) {
  const int number = platform::WinsockErrorFromErrno(error);
  const std::int32_t handle = SocketHandle;
  PWL_DEBUG("CWinsock::SendData - send error " + std::to_string(number) + " (" + platform::SocketErrorText(number) +
            ") (socket handle " + std::to_string(handle) + ")");
  QueSendClear();
  pendingRuns_.clear();
  CWinsocks* registry = registry_;
  if (registry == nullptr) return SendOutcome::Failed;
  // The connection's failure was reported already and its close runs.
  if (failed_ && protocol_ == PWL_TCPIP) return SendOutcome::Failed;
  const auto life = Life();
  registry->RaiseEventError(handle, number);
  if (life.expired()) return SendOutcome::Destroyed;
  SetState(PWL_ERROR);
  if (life.expired()) return SendOutcome::Destroyed;
  // A stream that failed cannot carry anything more: close it the way a
  // failed read notification does. A datagram socket stays open.
  if (protocol_ == PWL_TCPIP) {
    const std::string key = std::to_string(handle);
    if (registry->ItemExists(key)) registry->CloseSock(key);
    if (life.expired()) return SendOutcome::Destroyed;
  }
  return SendOutcome::Failed;
}

void CWinsock::LogSent(SendPath path, std::int64_t count) const {
  const std::string tail = std::to_string(count) + " bytes on local port " + std::to_string(LocalPort);
  switch (path) {
    case SendPath::Direct:
      DebugLine("CWinsock::SendDataWhenReady - Sent " + tail);
      break;
    case SendPath::WriteReady:
      DebugLine("Sent " + tail);
      break;
    case SendPath::Tick:
      DebugLine("mobjQueToSendTimer::IntervalReached - Sent " + tail);
      break;
  }
}

void CWinsock::LogPartial(SendPath path, std::int64_t count, std::int64_t length) const {
  const std::string tail = std::to_string(count) + " of " + std::to_string(length) + " bytes";
  switch (path) {
    case SendPath::Direct:
      DebugLine("CWinsock::SendDataWhenReady - buffers full (0), Partial Request Sent: " + tail);
      break;
    case SendPath::WriteReady:
      DebugLine("CWinsock::SendAllDataForConnection - buffers full (0), Partial Request Sent: " + tail);
      break;
    case SendPath::Tick:
      DebugLine("mobjQueToSendTimer::IntervalReached - Partial Request Sent: " + tail);
      break;
  }
}

void CWinsock::LogBlocked(SendPath path) const {
  if (!DebugOn()) return;
  switch (path) {
    case SendPath::Direct:
      DebugLine("CWinsock::SendDataWhenReady - buffers full, waiting for FD_WRITE event");
      break;
    case SendPath::WriteReady:
      DebugLine("CWinsock::SendAllDataForConnection - buffers full, waiting for FD_WRITE event 0(" +
                platform::SocketErrorText(0) + ")");
      break;
    case SendPath::Tick:
      DebugLine("mobjQueToSendTimer::IntervalReached - Send buffer full...waiting for FD_WRITE event to finish send");
      break;
  }
}

// ---- closing ------------------------------------------------------------------------

bool CWinsock::CloseSockWithLinger() {
  const auto life = Life();
  const std::int32_t handle = SocketHandle;
  // Closing ends a pause: the drain below and the linger read as usual.
  if (receivePaused_) Resume();
  // A second graceful close (the peer closing while ours lingers) only
  // restarts the linger: the socket is already shut for sending.
  if (fd_ && !lingerCloseStarted_) {
    lingerCloseStarted_ = true;
    if (protocol_ == PWL_TCPIP && lingerSet_) {
      // A zero linger (set on outgoing connections) would make the final
      // close discard what the peer has not read yet; a graceful close lets
      // the system deliver it.
      linger off{0, 0};
      ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &off, sizeof off);
      lingerSet_ = false;
    }
    // A handshake the client gives up on ends without a word.
    if (tls_ && tls_->phase() == TlsLayer::Phase::Handshake) {
      tls_->Fail("closed during the handshake");
      tlsTimer_.reset();
      PWL_DEBUG("CWinsock::CloseSockWithLinger - TLS handshake abandoned (socket handle " + std::to_string(handle) +
                ")");
    }
    // Data still queued here goes out first; the sending direction is shut
    // when the queue is empty (under TLS after close_notify).
    const bool tlsClose = tls_ && tls_->phase() != TlsLayer::Phase::Clear &&
                          (tls_->phase() == TlsLayer::Phase::Established || tls_->HasOutput());
    if (protocol_ == PWL_TCPIP && (!sendQueue_.Empty() || tlsClose)) {
      shutdownPending_ = true;
      if (tlsClose && sendQueue_.Empty()) {
        SendTls(SendPath::Direct, true);
        if (life.expired()) return true;
      }
    } else {
      ::shutdown(fd_.get(), SHUT_WR);
      writeShut_ = true;
    }
  }

  // Drain input that is already waiting (when the loop knows nothing waits,
  // asking the system would only say so).
  int error = 0;
  const DrainEnd drained = fd_ && protocol_ == PWL_TCPIP && !Loop().InputMayWait(fd_.get())
                               ? DrainEnd::WouldBlock
                               : DrainInput("CWinsock::CloseSockWithLinger", kMaxDrainReads, &error);
  // The handler removed the socket: there is nothing left to close.
  if (drained == DrainEnd::Destroyed || life.expired()) return true;
  if (drained == DrainEnd::Failed && protocol_ == PWL_TCPIP && !failed_ && registry_ != nullptr) {
    // The read took the connection's error: report it here, or nobody will.
    registry_->RaiseEventError(handle, error);
    if (life.expired()) return true;
    SetState(PWL_ERROR);
    if (life.expired()) return true;
  }

  auto timer = std::make_unique<CTimer>();
  timer->SetInterval(lingerTime_);
  timer->Tag = std::to_string(handle);
  timer->IntervalReached = [this] { OnLingerTick(); };
  mobjLingerTimer = std::move(timer);  // replaces (and so stops) an earlier one
  if (mobjLingerTimer->EnableTimer()) {
    PWL_DEBUG("CWinsock::CloseSockWithLinger - Started timer (ID: " + std::to_string(handle) + ")");
    return true;
  }
  PWL_DEBUG("CWinsock::CloseSockWithLinger - Set timer for SocketHandle " + std::to_string(handle) + " failed");
  mobjLingerTimer.reset();
  return false;
}

DrainEnd CWinsock::DrainInput(const char* who, int maxReads, int* error) {
  if (tls_ && protocol_ == PWL_TCPIP) return TlsReceive(who, maxReads, error);
  const auto life = Life();
  CWinsocks* registry = registry_;
  const std::int32_t handle = SocketHandle;
  const std::string name(who);
  for (int reads = 0; fd_; ++reads) {
    if (maxReads > 0 && reads >= maxReads) return DrainEnd::Limit;
    char buffer[kReceiveLimit + 1];
    sockaddr_in from{};
    unsigned fromLength = sizeof from;
    const long n = protocol_ == PWL_UDP ? Loop().RecvFrom(fd_.get(), buffer, kReceiveLimit, &from, &fromLength)
                                        : Loop().Recv(fd_.get(), buffer, kReceiveLimit);
    if (n < 0) {
      const int saved = errno;
      if (reads == 0) {
        PWL_DEBUG(name + " - (recv returned INVALID_SOCKET---no remaining data)");
      } else {
        PWL_DEBUG(name + " - (recv returned INVALID_SOCKET) - " + platform::SystemErrorText(LastSystemError()));
      }
      if (WouldBlock(saved)) return DrainEnd::WouldBlock;
      *error = platform::WinsockErrorFromErrno(saved);
      return DrainEnd::Failed;
    }
    if (n == 0) return protocol_ == PWL_UDP ? DrainEnd::WouldBlock : DrainEnd::EndOfStream;
    receivedAny_ = true;
    PortwellData block;
    if (NoUnicodeConversionOnRecv) {
      block.MutableBytes().assign(buffer, static_cast<std::size_t>(n));
    } else {
      std::u16string text(static_cast<std::size_t>(n), u'\0');
      for (long i = 0; i < n; ++i) text[static_cast<std::size_t>(i)] = static_cast<unsigned char>(buffer[i]);
      block = PortwellData(std::move(text));
    }
    PWL_DEBUG(name + " - Received " + std::to_string(n) + " bytes");
    if (registry == nullptr || !registry->Exists(std::to_string(handle))) {
      PWL_DEBUG(name + " - Received " + std::to_string(n) +
                " bytes but socket object has been destroyed---data has been descarded");
      return DrainEnd::Detached;
    }
    const std::string senderHost = protocol_ == PWL_UDP ? AddressText(from.sin_addr.s_addr) : std::string();
    const std::int32_t senderPort = protocol_ == PWL_UDP ? ntohs(from.sin_port) : 0;
    registry->RaiseEventDataArrival(*this, block, false, senderHost, senderPort);
    if (life.expired()) return DrainEnd::Destroyed;
    // The handler started TLS: nothing more is read in clear.
    if (tls_) return DrainEnd::WouldBlock;
  }
  return DrainEnd::WouldBlock;
}

bool CWinsock::DeliverQueued(bool final) {
  const auto life = Life();
  while (receiveQueue_.Count() > 0 && (final || !receivePaused_)) {
    CWinsocks* registry = registry_;
    if (registry == nullptr) return true;
    CQueReceiveRequest head = receiveQueue_.TakeFirst();
    const bool retrieved =
        registry->RaiseEventDataArrival(*this, head.DataReceived, true, head.RemoteHostUDP, head.RemotePortUDP);
    if (life.expired()) return false;
    if (!retrieved && !final) {
      receiveQueue_.PutBackFirst(std::move(head));
      break;
    }
  }
  return true;
}

bool CWinsock::PeerClosed() const {
  pollfd p{fd_.get(), POLLRDHUP, 0};
  if (::poll(&p, 1, 0) != 1) return false;
  return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool CWinsock::DeliverRemaining() {
  const auto life = Life();
  // Under TLS the library may still hold plaintext the system no longer does.
  if (fd_ && protocol_ == PWL_TCPIP &&
      ((Loop().InputMayWait(fd_.get()) && (Loop().PeerClosed(fd_.get()) || PeerClosed())) || TlsBufferedInput() > 0)) {
    // What the peer sent before its close is finite: read all of it.
    int error = 0;
    const DrainEnd end = DrainInput("CWinsock::LingerEnd", 0, &error);
    if (end == DrainEnd::Destroyed || life.expired()) return false;
    if (end == DrainEnd::Failed && !failed_ && registry_ != nullptr) {
      registry_->RaiseEventError(SocketHandle, error);
      if (life.expired()) return false;
      SetState(PWL_ERROR);
      if (life.expired()) return false;
    }
  }
  return DeliverQueued(true);
}

void CWinsock::SetReceivePaused(bool paused) {
  if (paused == receivePaused_ || lingerCloseStarted_) return;
  if (!paused) {
    Resume();
    return;
  }
  receivePaused_ = true;
  if (fd_ && !Loop().PauseRead(fd_.get(), true)) {
    PWL_DEBUG("CWinsock::SetReceivePaused - socket " + std::to_string(SocketHandle) + " is not watched");
  }
}

void CWinsock::EndPause() {
  receivePaused_ = false;
  closeDeferred_ = false;
  if (fd_) Loop().PauseRead(fd_.get(), false);
}

void CWinsock::Resume() {
  const bool closeHeld = closeDeferred_;
  // The loop posts a read (or the close) that came meanwhile.
  EndPause();
  CWinsocks* registry = registry_;
  if (registry == nullptr) return;
  // What TLS decrypted (or was fed) is no longer in the system: no read
  // notification would come for it. It goes before a held close.
  if (TlsBufferedInput() > 0) {
    Loop().Post(registry->HwndMsgs(), platform::kSocketMessage, SocketHandle,
                platform::MakeSelectLParam(platform::kFdRead, 0));
  }
  if (closeHeld) {
    Loop().Post(registry->HwndMsgs(), platform::kSocketMessage, SocketHandle,
                platform::MakeSelectLParam(platform::kFdClose, 0));
  }
  CTimer& timer = registry->pGetQueToReceiveTimerObj();
  if (receiveQueue_.Count() > 0 && !timer.Enabled()) timer.EnableTimer();
}

void CWinsock::OnLingerTick() {
  mobjLingerTimer.reset();
  CWinsocks* registry = registry_;
  if (registry == nullptr) return;
  const auto life = Life();
  const auto registryLife = registry->Life();
  const std::string key = std::to_string(SocketHandle);
  if (!DeliverRemaining() || registryLife.expired() || registry_ == nullptr) return;
  SetState(PWL_CLOSED);
  if (life.expired() || registryLife.expired()) return;
  if (registry->ItemExists(key)) registry->CloseSockDown(key);
}

void CWinsock::StartConnecting(std::int32_t timeoutMs) {
  connecting_ = true;
  auto timer = std::make_unique<CTimer>();
  timer->SetInterval(std::max<std::int32_t>(1, timeoutMs));
  timer->Tag = std::to_string(SocketHandle);
  timer->IntervalReached = [this] { OnConnectTimeout(); };
  connectTimer_ = std::move(timer);
  connectTimer_->EnableTimer();
}

void CWinsock::StopConnecting() {
  connecting_ = false;
  connectTimer_.reset();
}

void CWinsock::OnConnectTimeout() {
  StopConnecting();
  CWinsocks* registry = registry_;
  if (registry == nullptr) return;
  const std::int32_t handle = SocketHandle;
  PWL_DEBUG("CWinsocks::ConnectAsync - Connect timed out (socket handle " + std::to_string(handle) + ")");
  QueSendClear();
  // Abandoned: later reports about the attempt are of no interest.
  if (fd_) platform::EventLoop::Instance().Unwatch(fd_.get());
  const auto life = Life();
  const int number = 10060;
  registry->RaiseEventError(handle, number);
  if (life.expired()) return;
  SetState(PWL_ERROR);
  if (life.expired()) return;
  const std::string key = std::to_string(handle);
  if (registry->ItemExists(key)) registry->CloseSock(key);
}

// ---- options ------------------------------------------------------------------------

std::int32_t CWinsock::SetSockOptionValue(PWL_SOCK_OPTION option, std::int32_t value) {
  if (option == PWL_OPTIONAL_SO_RCVLOWAT && tls_) {
    // A peer that ends with close_notify and waits for ours before its FIN
    // would leave its last records below the mark for good.
    PWL_DEBUG("CWinsocks::SetSockOption - receive low-water mark not applied under TLS (socket handle " +
              std::to_string(SocketHandle) + ")");
    return 0;
  }
  int level = SOL_SOCKET;
  int name = -1;
  switch (option) {
    case PWL_SO_DEBUG: name = SO_DEBUG; break;
    case PWL_SO_REUSEADDR: name = SO_REUSEADDR; break;
    case PWL_SO_KEEPALIVE: name = SO_KEEPALIVE; break;
    case PWL_SO_DONTROUTE: name = SO_DONTROUTE; break;
    case PWL_SO_BROADCAST: name = SO_BROADCAST; break;
    case PWL_SO_OOBINLINE: name = SO_OOBINLINE; break;
    case PWL_TCP_NODELAY: level = IPPROTO_TCP; name = TCP_NODELAY; break;
    case PWL_TCP_CORK: level = IPPROTO_TCP; name = TCP_CORK; break;
    case PWL_OPTIONAL_SO_SNDBUF: name = SO_SNDBUF; break;
    case PWL_OPTIONAL_SO_RCVBUF: name = SO_RCVBUF; break;
    case PWL_OPTIONAL_SO_SNDLOWAT: name = SO_SNDLOWAT; break;
    case PWL_OPTIONAL_SO_RCVLOWAT: name = SO_RCVLOWAT; break;
    case PWL_SO_LINGER:
    case PWL_SO_DONTLINGER: {
      if (!fd_) return -1;
      const bool on = (option == PWL_SO_LINGER) == (value != 0);
      linger l{on ? 1 : 0, option == PWL_SO_LINGER ? value : 0};
      if (::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return -1;
      lingerSet_ = true;
      return 0;
    }
    default: break;  // read-only, timed or without counterpart here
  }
  if (name < 0 || !fd_) return -1;
  const int v = value;
  if (::setsockopt(fd_.get(), level, name, &v, sizeof v) != 0) {
    PWL_DEBUG("CWinsocks::SetSockOption - Error setting value: " + std::to_string(LastSystemError()));
    return -1;
  }
  if (name == TCP_CORK && level == IPPROTO_TCP) {
    corkedByClient_ = v != 0;
    corkLeft_ = 0;  // the client's setting replaces a range's own
  }
  return 0;
}

std::int32_t CWinsock::SetSockOption(PWL_SOCK_OPTION option, bool activeStatus) {
  int level = SOL_SOCKET;
  int name = -1;
  bool lingerStyle = false;
  bool inverted = false;
  bool timeStyle = false;
  switch (option) {
    case PWL_SO_DEBUG: name = SO_DEBUG; break;
    case PWL_SO_ACCEPTCONN: name = SO_ACCEPTCONN; break;
    case PWL_SO_REUSEADDR: name = SO_REUSEADDR; break;
    case PWL_SO_KEEPALIVE: name = SO_KEEPALIVE; break;
    case PWL_SO_DONTROUTE: name = SO_DONTROUTE; break;
    case PWL_SO_BROADCAST: name = SO_BROADCAST; break;
    case PWL_SO_USELOOPBACK: name = -1; break;  // no counterpart on this system
    case PWL_SO_LINGER: name = SO_LINGER; lingerStyle = true; lingerSet_ = true; break;
    case PWL_SO_OOBINLINE: name = SO_OOBINLINE; break;
    case PWL_SO_DONTLINGER: name = SO_LINGER; lingerStyle = true; inverted = true; lingerSet_ = true; break;
    case PWL_TCP_NODELAY: level = IPPROTO_TCP; name = TCP_NODELAY; break;
    case PWL_TCP_CORK: return SetSockOptionValue(option, activeStatus ? 1 : 0);  // keeps the cork's bookkeeping
    case PWL_OPTIONAL_SO_SNDBUF: name = SO_SNDBUF; break;
    case PWL_OPTIONAL_SO_RCVBUF: name = SO_RCVBUF; break;
    case PWL_OPTIONAL_SO_SNDLOWAT: name = SO_SNDLOWAT; break;
    case PWL_OPTIONAL_SO_RCVLOWAT: name = SO_RCVLOWAT; break;
    case PWL_OPTIONAL_SO_SNDTIMEO: name = SO_SNDTIMEO; timeStyle = true; break;
    case PWL_OPTIONAL_SO_RCVTIMEO: name = SO_RCVTIMEO; timeStyle = true; break;
    case PWL_OPTIONAL_SO_ERROR: name = SO_ERROR; break;
    case PWL_OPTIONAL_SO_TYPE: name = SO_TYPE; break;
  }
  int result = -1;
  int error = 10042;  // protocol not available
  if (name >= 0 && fd_) {
    if (lingerStyle) {
      // The option takes a structure here; only on/off is given, with no
      // wait (a wait would block the thread in close).
      linger value{(activeStatus != inverted) ? 1 : 0, 0};
      result = ::setsockopt(fd_.get(), level, name, &value, sizeof value);
    } else if (timeStyle) {
      timeval value{0, activeStatus ? 1000 : 0};
      result = ::setsockopt(fd_.get(), level, name, &value, sizeof value);
    } else {
      int value = activeStatus ? 1 : 0;
      result = ::setsockopt(fd_.get(), level, name, &value, sizeof value);
    }
    if (result != 0) error = LastSystemError();
  }
  if (result != 0) {
    PWL_DEBUG("CWinsocks::SetSockOption - Error setting value: " + std::to_string(error));
    return -1;
  }
  bool readBack = false;
  int got = -1;
  if (lingerStyle) {
    linger value{};
    socklen_t len = sizeof value;
    got = ::getsockopt(fd_.get(), level, name, &value, &len);
    readBack = (value.l_onoff != 0) != inverted;
  } else if (timeStyle) {
    timeval value{};
    socklen_t len = sizeof value;
    got = ::getsockopt(fd_.get(), level, name, &value, &len);
    readBack = value.tv_sec != 0 || value.tv_usec != 0;
  } else {
    int value = 0;
    socklen_t len = sizeof value;
    got = ::getsockopt(fd_.get(), level, name, &value, &len);
    readBack = value != 0;
  }
  if (got != 0) {
    PWL_DEBUG("CWinsocks::SetSockOption - Getsockopt confirmation failed---error value: " +
              std::to_string(LastSystemError()));
    return -1;
  }
  PWL_DEBUG(std::string("CWinsocks::SetSockOption - Active: ") + (readBack ? "True" : "False"));
  return 0;
}

// ---- TLS ------------------------------------------------------------------------------

namespace {

// Plaintext encrypted in one piece: four full records. Its ciphertext waits
// in the layer until the system has taken all of it, so this bounds what a
// socket holds whatever the size of a file range.
constexpr std::size_t kTlsPiece = 64 * 1024;
// Raw reads under TLS: as large as the largest block delivered.
constexpr std::size_t kTlsRawRead = CPortwell::kRawReceiveBlock;
// A TLS protocol failure, reported as the connection's abort.
constexpr int kTlsAborted = 10053;

char* TlsScratch() {
  // Shared by every socket: filled and used up before any event can run.
  static char buffer[kTlsRawRead > kTlsPiece ? kTlsRawRead : kTlsPiece];
  return buffer;
}

}  // namespace

void CWinsock::QueSendClear() {
  sendQueue_.Clear();
  if (tls_) tls_->DropOutput();
}

std::int32_t CWinsock::TlsStartable() const {
  if (protocol_ != PWL_TCPIP || !fd_ || connecting_ || state_ == PWL_LISTENING || lingerCloseStarted_) return 10045;
  if (tls_) return 10022;
  return 0;
}

PWL_TLS_STATE CWinsock::TlsState() const {
  if (!tls_) return PWL_TLS_NONE;
  switch (tls_->phase()) {
    case TlsLayer::Phase::Clear:
    case TlsLayer::Phase::Handshake:
      return PWL_TLS_HANDSHAKE;
    case TlsLayer::Phase::Established:
      return PWL_TLS_ESTABLISHED;
    case TlsLayer::Phase::Failed:
      break;
  }
  return PWL_TLS_NONE;
}

void CWinsock::DiscardWaitingInput() {
  std::int64_t dropped = 0;
  // Bounded: only what is there now, not a peer that keeps sending.
  for (int reads = 0; fd_ && reads < kMaxDrainReads; ++reads) {
    const long n = Loop().Recv(fd_.get(), TlsScratch(), kTlsRawRead);
    if (n <= 0) break;
    dropped += n;
  }
  if (dropped > 0) {
    PWL_DEBUG("CWinsock::StartTls - discarded " + std::to_string(dropped) + " bytes received in clear (socket handle " +
              std::to_string(SocketHandle) + ")");
  }
}

void CWinsock::StartTls(std::unique_ptr<TlsLayer> layer, const PortwellData& clearText, std::int32_t timeoutMs) {
  CWinsocks* registry = registry_;
  if (registry == nullptr) return;
  // What came in clear is never read as if it came through TLS. On a
  // connection that has received nothing yet, what waits can only be the
  // start of the handshake, and stays.
  receiveQueue_.Clear();
  if (receivedAny_) DiscardWaitingInput();
  // No receive low-water mark under TLS (one a listener handed on included):
  // the peer's close_notify could wait below it.
  const int one = 1;
  if (fd_) ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
  tls_ = std::move(layer);
  if (!clearText.Empty()) {
    WrapAdd(registry->RequestsToSendReceived, sendQueue_.AddRequests(clearText, ChunkSize, "", 0));
  }
  tls_->clearLeft = sendQueue_.Bytes();
  if (timeoutMs > 0) {
    auto timer = std::make_unique<CTimer>();
    timer->SetInterval(timeoutMs);
    timer->Tag = std::to_string(SocketHandle);
    timer->IntervalReached = [this] { OnTlsTimeout(); };
    tlsTimer_ = std::move(timer);
    tlsTimer_->EnableTimer();
  }
  PWL_DEBUG("CWinsock::StartTls - TLS requested (socket handle " + std::to_string(SocketHandle) + ", " +
            std::to_string(tls_->clearLeft) + " bytes to go in clear first)");
  if (tls_->clearLeft == 0) {
    BeginHandshake();
  } else if (UseBufferToSend) {
    registry->pGetQueToSendTimerObj().EnableTimer();
  } else {
    SendQueued(SendPath::Direct);
  }
}

void CWinsock::BeginHandshake() {
  tls_->clearLeft = 0;
  if (lingerCloseStarted_) {
    // The client closed meanwhile: no handshake starts.
    tls_->Fail("closed before the handshake");
    tlsTimer_.reset();
    return;
  }
  tls_->BeginHandshake();
  PWL_DEBUG("CWinsock::StartTls - TLS handshake started (socket handle " + std::to_string(SocketHandle) + ")");
  // The client's first flight may already wait, its notification spent.
  if (fd_ && registry_ != nullptr && Loop().InputMayWait(fd_.get())) {
    Loop().Post(registry_->HwndMsgs(), platform::kSocketMessage, SocketHandle,
                platform::MakeSelectLParam(platform::kFdRead, 0));
  }
}

void CWinsock::OnTlsTimeout() {
  tlsTimer_.reset();
  if (!tls_ || tls_->phase() == TlsLayer::Phase::Established || tls_->phase() == TlsLayer::Phase::Failed) return;
  FailTls("handshake timed out", false);
}

bool CWinsock::FailTls(const std::string& reason, bool keepOutput) {
  const auto life = Life();
  const std::int32_t handle = SocketHandle;
  tls_->Fail(reason);
  tlsTimer_.reset();
  // Nothing queued goes out any more; what the library said (an alert) may.
  sendQueue_.Clear();
  if (!keepOutput) tls_->DropOutput();
  PWL_DEBUG("CWinsock::StartTls - TLS handshake failed (socket handle " + std::to_string(handle) + "): " + reason);
  CWinsocks* registry = registry_;
  if (registry == nullptr) return true;
  registry->RaiseEventTlsFailed(handle, reason);
  if (life.expired()) return false;
  if (tls_->HasOutput() || shutdownPending_) SendTls(SendPath::Direct, false);
  return !life.expired();
}

bool CWinsock::TlsEndedEarly(bool failed) {
  if (!tls_ || lingerCloseStarted_) return true;
  const TlsLayer::Phase phase = tls_->phase();
  if (phase != TlsLayer::Phase::Clear && phase != TlsLayer::Phase::Handshake) return true;
  return FailTls(failed ? "the connection failed during the handshake" : "the peer closed the connection during the handshake",
                 false);
}

bool CWinsock::AdvanceHandshake() {
  const auto life = Life();
  const std::int32_t handle = SocketHandle;
  const TlsLayer::Step step = tls_->Handshake();
  if (step == TlsLayer::Step::Failed) {
    // The library's failure leaves an alert to send; a refused reuse or a
    // time-out sends nothing.
    return FailTls(tls_->reason(), tls_->reason() != "session reuse required");
  }
  if (tls_->HasOutput()) {
    SendTls(SendPath::Direct, false);
    if (life.expired()) return false;
  }
  if (step == TlsLayer::Step::Pending || !tls_ || tls_->phase() != TlsLayer::Phase::Established) return true;
  tlsTimer_.reset();
  PWL_DEBUG("CWinsock::StartTls - TLS established (socket handle " + std::to_string(handle) + ", " + tls_->Version() +
            (tls_->Resumed() ? ", session resumed)" : ", new session)"));
  CWinsocks* registry = registry_;
  if (registry == nullptr) return true;
  if (tls_->Resumed() && tls_->controlHandle != 0) {
    // The ticket this connection spent is replaced on the control
    // connection, which the client reads anyway.
    CWinsock* control = registry->FindHandle(tls_->controlHandle);
    if (control != nullptr && control->Tls() != nullptr) control->Tls()->IssueTicket();
  }
  registry->RaiseEventTlsEstablished(handle, tls_->Resumed());
  if (life.expired()) return false;
  // What was queued meanwhile goes now, encrypted.
  if (!sendQueue_.Empty() || shutdownPending_) {
    if (UseBufferToSend && !shutdownPending_ && registry_ != nullptr) {
      registry_->pGetQueToSendTimerObj().EnableTimer();
    } else {
      SendTls(SendPath::Direct, true);
      if (life.expired()) return false;
    }
  }
  return true;
}

DrainEnd CWinsock::DeliverDecrypted(const std::string& who, int* error) {
  const auto life = Life();
  const std::size_t limit = NoUnicodeConversionOnRecv ? static_cast<std::size_t>(CPortwell::kRawReceiveBlock)
                                                      : kReceiveLimit;
  while (tls_->phase() == TlsLayer::Phase::Established && !tls_->PeerClosed()) {
    // A pause holds what the library decrypts too.
    if (receivePaused_) return DrainEnd::WouldBlock;
    std::string plain;
    const TlsLayer::ReadEnd end = tls_->Read(plain, limit);
    if (tls_->HasOutput()) {
      SendTls(SendPath::Direct, false);
      if (life.expired()) return DrainEnd::Destroyed;
    }
    if (!plain.empty()) {
      CWinsocks* registry = registry_;
      const std::int32_t handle = SocketHandle;
      PortwellData block;
      if (NoUnicodeConversionOnRecv) {
        block.MutableBytes() = std::move(plain);
      } else {
        std::u16string text(plain.size(), u'\0');
        for (std::size_t i = 0; i < plain.size(); ++i) text[i] = static_cast<unsigned char>(plain[i]);
        block = PortwellData(std::move(text));
      }
      PWL_DEBUG(who + " - Received " + std::to_string(block.Size()) + " bytes (TLS)");
      if (registry == nullptr || !registry->Exists(std::to_string(handle))) return DrainEnd::Detached;
      registry->RaiseEventDataArrival(*this, block, false, "", 0);
      if (life.expired()) return DrainEnd::Destroyed;
    }
    if (end == TlsLayer::ReadEnd::Full) continue;
    if (end == TlsLayer::ReadEnd::WantInput) return DrainEnd::WouldBlock;
    if (end == TlsLayer::ReadEnd::Broken) {
      PWL_DEBUG(who + " - TLS failed (socket handle " + std::to_string(SocketHandle) + "): " + tls_->reason());
      tlsBroken_ = true;
      sendQueue_.Clear();
      *error = kTlsAborted;
      return DrainEnd::Failed;
    }
  }
  if (tls_->PeerClosed() && !tlsEndPosted_) {
    // The peer's close_notify ends the stream as a FIN does; ours answers
    // it in the graceful close that follows.
    tlsEndPosted_ = true;
    PWL_DEBUG(who + " - close_notify received (socket handle " + std::to_string(SocketHandle) + ")");
    if (registry_ != nullptr) {
      Loop().Post(registry_->HwndMsgs(), platform::kSocketMessage, SocketHandle,
                  platform::MakeSelectLParam(platform::kFdClose, 0));
    }
    return DrainEnd::EndOfStream;
  }
  return tls_->PeerClosed() ? DrainEnd::EndOfStream : DrainEnd::WouldBlock;
}

DrainEnd CWinsock::TlsDeliverBuffered(const char* who, int* error) {
  if (!tls_) return DrainEnd::WouldBlock;
  return DeliverDecrypted(who, error);
}

DrainEnd CWinsock::TlsReceive(const char* who, int maxReads, int* error) {
  const auto life = Life();
  const std::string name(who);
  for (int reads = 0; fd_;) {
    // What the library holds goes before anything new.
    if (tls_->phase() == TlsLayer::Phase::Established && !tls_->PeerClosed()) {
      const DrainEnd end = DeliverDecrypted(name, error);
      if (end != DrainEnd::WouldBlock) return end;
    }
    if (receivePaused_) return DrainEnd::WouldBlock;
    if (maxReads > 0 && reads >= maxReads) return DrainEnd::Limit;
    char* buffer = TlsScratch();
    const long n = Loop().Recv(fd_.get(), buffer, kTlsRawRead);
    ++reads;
    if (n < 0) {
      const int saved = errno;
      if (WouldBlock(saved)) return DrainEnd::WouldBlock;
      PWL_DEBUG(name + " - (recv returned INVALID_SOCKET) - " + platform::SystemErrorText(saved));
      *error = platform::WinsockErrorFromErrno(saved);
      return DrainEnd::Failed;
    }
    if (n == 0) return DrainEnd::EndOfStream;
    receivedAny_ = true;
    switch (tls_->phase()) {
      case TlsLayer::Phase::Clear:
      case TlsLayer::Phase::Failed:
        // Sent in clear before our switch, or after TLS ended: never data.
        PWL_DEBUG(name + " - discarded " + std::to_string(n) + " bytes (socket handle " +
                  std::to_string(SocketHandle) + ")");
        break;
      case TlsLayer::Phase::Handshake:
        tls_->Feed(buffer, static_cast<std::size_t>(n));
        if (!AdvanceHandshake() || life.expired()) return DrainEnd::Destroyed;
        break;
      case TlsLayer::Phase::Established:
        tls_->Feed(buffer, static_cast<std::size_t>(n));
        break;
    }
  }
  return DrainEnd::WouldBlock;
}

bool CWinsock::EncryptNextPiece(SendOutcome* failed) {
  const SendSegment& head = sendQueue_.Head();
  bool ok = false;
  if (head.isFile) {
    // Read in a bounded piece; the file is never held in memory.
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(head.Remaining(), kTlsPiece));
    char* buffer = TlsScratch();
    long got = 0;
    do {
      got = ::pread(head.file.get(), buffer, want, static_cast<off_t>(head.fileOffset + head.sent));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      // A file that ends before its range cannot keep the promise.
      *failed = SendFailed(got == 0 ? EIO : errno);
      return false;
    }
    ok = tls_->Encrypt(buffer, static_cast<std::size_t>(got));
  } else {
    iovec vectors[kMaxVectors];
    const int count = sendQueue_.GatherHead(vectors, kMaxVectors);
    if (count == 1 || (count > 0 && vectors[0].iov_len >= kTlsPiece)) {
      ok = tls_->Encrypt(static_cast<const char*>(vectors[0].iov_base), std::min(vectors[0].iov_len, kTlsPiece));
    } else {
      // Small requests together: fewer records and fewer system calls.
      char* buffer = TlsScratch();
      std::size_t length = 0;
      for (int i = 0; i < count && length < kTlsPiece; ++i) {
        const std::size_t take = std::min(vectors[i].iov_len, kTlsPiece - length);
        std::memcpy(buffer + length, vectors[i].iov_base, take);
        length += take;
      }
      ok = tls_->Encrypt(buffer, length);
    }
  }
  if (!ok) {
    PWL_DEBUG("CWinsock::SendData - TLS failed (socket handle " + std::to_string(SocketHandle) + "): " +
              tls_->reason());
    tlsBroken_ = true;
    *failed = SendFailed(ECONNABORTED);
    return false;
  }
  return true;
}

SendOutcome CWinsock::SendTls(SendPath path, bool payload) {
  const auto life = Life();
  const std::int64_t budget = sendQueue_.Count();
  std::int64_t done = 0;
  std::vector<CompletionRun> runs;
  while (fd_) {
    if (tls_->phase() == TlsLayer::Phase::Failed) sendQueue_.Clear();
    if (tls_->HasOutput()) {
      if (writeBlocked_) {
        LogBlocked(path);
        return SendOutcome::Blocked;
      }
      const long n = Loop().Send(fd_.get(), tls_->Output(), tls_->OutputSize());
      if (n < 0) return SendRefused(path);
      const std::int64_t plain = tls_->Consumed(static_cast<std::size_t>(n));
      if (plain > 0) {
        runs.clear();
        sendQueue_.Advance(plain, runs);
        if (DebugOn()) {
          for (const auto& r : runs) {
            for (std::int64_t i = 0; i < r.count; ++i) LogSent(path, r.length);
          }
        }
        done += RequestCount(runs);
        if (!Complete(runs)) return SendOutcome::Destroyed;
      }
      // A partial send: the rest is tried again at once (the system usually
      // answers "would block"), never encrypted again.
      continue;
    }
    if (shutdownPending_ && sendQueue_.Empty()) {
      if (tls_->phase() == TlsLayer::Phase::Established && !tls_->CloseNotifyQueued()) {
        tls_->QueueCloseNotify();
        PWL_DEBUG("CWinsock::CloseSockWithLinger - close_notify queued (socket handle " +
                  std::to_string(SocketHandle) + ")");
        continue;
      }
      shutdownPending_ = false;
      ::shutdown(fd_.get(), SHUT_WR);
      writeShut_ = true;
      return SendOutcome::Done;
    }
    // The queue waits for the handshake.
    if (tls_->phase() != TlsLayer::Phase::Established) return SendOutcome::Idle;
    if (sendQueue_.Empty()) return done > 0 ? SendOutcome::Done : SendOutcome::Idle;
    if (!payload || done >= budget) return SendOutcome::Done;
    if (sendQueue_.Head().Remaining() == 0) {
      runs.clear();
      sendQueue_.Advance(0, runs);
      done += RequestCount(runs);
      if (!Complete(runs)) return SendOutcome::Destroyed;
      continue;
    }
    if (writeBlocked_) {
      LogBlocked(path);
      return SendOutcome::Blocked;
    }
    SendOutcome failed = SendOutcome::Failed;
    if (!EncryptNextPiece(&failed)) return life.expired() ? SendOutcome::Destroyed : failed;
  }
  return SendOutcome::Blocked;
}

}  // namespace portwell
