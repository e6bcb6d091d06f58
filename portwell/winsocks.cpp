#include "portwell/winsocks.h"

#include "portwell/debug_log.h"
#include "portwell/resolver.h"
#include "platform/host_info.h"
#include "platform/winsock_errors.h"

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <functional>

namespace portwell {

namespace {

constexpr std::size_t kReceiveLimit = 32767;

using WindowTableMap = std::unordered_map<platform::TargetHandle, CWinsocks*>;

std::unique_ptr<WindowTableMap>& WindowTable() {
  static std::unique_ptr<WindowTableMap> table;
  return table;
}

platform::EventLoop& Loop() { return platform::EventLoop::Instance(); }

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

std::string ErrorAndText(std::uint32_t error) {
  return std::to_string(error) + " (" + platform::SocketErrorText(static_cast<int>(error)) + ")";
}

// One receive buffer for every read notification; each block is copied out
// of it before any event can run.
char gReceiveBuffer[kReceiveLimit + 1];
// Stream sockets that take raw bytes (bulk data, nobody reads them as text)
// are read in larger blocks: fewer system calls and events per byte.
// They are received straight into the block handed to the client, whose
// storage is taken back for the next read when the client did not keep it.
constexpr std::size_t kRawStreamReceiveLimit = CPortwell::kRawReceiveBlock;
// A block this small is copied out, so the large one keeps its size: growing
// it back would first fill it with zeros.
constexpr long kRawCopyBelow = 64 * 1024;
std::string& RawReceiveBlock() {
  static std::string block;
  return block;
}

}  // namespace

std::optional<std::int32_t> ParseKey(const std::string& key) {
  if (key.empty() || key.size() > 11) return std::nullopt;
  // Only the text std::to_string gives: no sign but '-', no leading zero,
  // no "-0".
  const std::size_t digits = key[0] == '-' ? 1 : 0;
  if (key.size() == digits) return std::nullopt;
  if (key[digits] == '0' && (key.size() > 1)) return std::nullopt;
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), value);
  if (ec != std::errc() || end != key.data() + key.size()) return std::nullopt;
  return value;
}

CWinsocks::CWinsocks()
    : mobjQueReceiveTimer(std::make_unique<CTimer>()), mobjQueToSendTimer(std::make_unique<CTimer>()) {
  mobjQueReceiveTimer->IntervalReached = [this] { QueReceiveTick(); };
  mobjQueToSendTimer->IntervalReached = [this] { QueToSendTick(); };
}

CWinsocks::~CWinsocks() {
  UnRegisterPortwell();
  Clear();
  mobjQueReceiveTimer.reset();
  mobjQueToSendTimer.reset();
  if (hwndMsgs_ != 0) WndDestroy();
  const auto& table = WindowTable();
  if (!table || table->empty()) StopWinsockServices();
}

// ---- message target -----------------------------------------------------------

platform::TargetHandle CWinsocks::WndCreate() {
  if (hwndMsgs_ != 0) {
    const platform::TargetHandle old = hwndMsgs_;
    if (!WndDestroy()) PWL_DEBUG("MPortwell::WndCreate - DestroyWindow on " + std::to_string(old) + " failed");
  }
  const platform::TargetHandle hwnd = Loop().CreateTarget(
      [](const platform::Message& m) { WindowProc(m.target, m.number, m.wParam, m.lParam); });
  if (hwnd == 0) {
    PWL_DEBUG("MPortwell::WndCreate - CreateWindowEx failed");
    return 0;
  }
  Loop().SetVisible(hwnd, false);
  hwndMsgs_ = hwnd;
  auto& table = WindowTable();
  if (!table) table = std::make_unique<WindowTableMap>();
  (*table)[hwnd] = this;
  return hwnd;
}

bool CWinsocks::WndDestroy() {
  if (hwndMsgs_ == 0) return false;
  const bool destroyed = Loop().DestroyTarget(hwndMsgs_);
  auto& table = WindowTable();
  if (table) table->erase(hwndMsgs_);
  hwndMsgs_ = 0;
  return destroyed;
}

// ---- services --------------------------------------------------------------------

bool CWinsocks::StartWinsockServices() {
  if (started_) return true;
  started_ = true;
  rlimit files{};
  std::uint64_t maxSockets = 65535;
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    maxSockets = std::min<std::uint64_t>(files.rlim_cur, 65535);
  }
  SocketInfoMaxSockets = std::to_string(maxSockets);
  SocketInfoMaxUdpDg = "65507";  // largest IPv4 datagram payload
  SocketInfoDescription =
      "Linux BSD sockets (IPv4 and IPv6 stream, IPv4 datagram, non-blocking, epoll notifications)";
  SocketInfoSystemStatus = "Running";
  SocketInfoHighVersion = "1.1";
  SocketInfoVersion = "1.1";
  SocketInfoVendorInfo.clear();
  LocalHostName = LocalHostNameText();
  Aliases = HostAliases(LocalHostName);
  LocalHostIP = platform::LocalAddresses();
  LocalHostIP6 = platform::LocalAddresses6();
  return true;
}

bool CWinsocks::StopWinsockServices() {
  started_ = false;
  return false;
}

std::string CWinsocks::LocalHostIPAt(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= LocalHostIP.size()) return {};
  return LocalHostIP[static_cast<std::size_t>(index)];
}

// ---- opening sockets -------------------------------------------------------------------

std::optional<SocketAddress> CWinsocks::ConnectTarget(const std::string& host, std::int32_t port,
                                                      std::int32_t adapterNumber, PWL_PROTOCOL streamType) {
  if (port < 0 || port >= 65535) {
    lastSockErr_ = 0;
    return std::nullopt;
  }
  // The adapter number indexes the host's addresses, of which only the
  // first is taken.
  if (adapterNumber > 0) {
    lastSockErr_ = 0;
    return std::nullopt;
  }
  auto address = ResolveHost(host, static_cast<std::uint16_t>(port));
  if (!address) {
    lastSockErr_ = 10049;
    return std::nullopt;
  }
  // Datagram sockets speak IPv4 only.
  if (streamType != PWL_TCPIP && address->Family() != AF_INET) {
    lastSockErr_ = 10047;
    return std::nullopt;
  }
  return address;
}

std::int32_t CWinsocks::SetSockLinger(int fd, bool on, std::int32_t seconds) {
  linger value{on ? 1 : 0, static_cast<int>(static_cast<std::uint16_t>(seconds))};
  if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) {
    PWL_DEBUG("CWinsocks::SetSockLinger - Error setting linger info: " + std::to_string(LastSystemError()));
    return -1;
  }
  linger readBack{};
  socklen_t length = sizeof readBack;
  if (::getsockopt(fd, SOL_SOCKET, SO_LINGER, &readBack, &length) != 0) {
    PWL_DEBUG("CWinsocks::SetSockLinger - Error getting linger info: " + std::to_string(LastSystemError()));
    return -1;
  }
  PWL_DEBUG("CWinsocks::SetSockLinger - Linger is on if nonzero: " + std::to_string(readBack.l_onoff));
  PWL_DEBUG("CWinsocks::SetSockLinger - Linger time if linger is on: " + std::to_string(readBack.l_linger));
  return 0;
}

std::int32_t CWinsocks::Connect(const std::string& host, std::int32_t port, PWL_PROTOCOL streamType,
                                std::int32_t adapterNumber) {
  const auto address = ConnectTarget(host, port, adapterNumber, streamType);
  if (!address) return -1;
  int error = 0;
  platform::UniqueFd s(::socket(address->Family(), static_cast<int>(streamType) | SOCK_CLOEXEC, 0));
  if (!s) {
    error = LastSystemError();
  } else if (streamType == PWL_TCPIP && SetSockLinger(s.get(), true, 0) == -1) {
    // No lingering in the system after close: a closed connection is reset.
    error = LastSystemError();
    s.reset();
  } else {
    int r;
    do {
      r = ::connect(s.get(), address->Data(), address->Length());
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
      lastSockErr_ = LastSystemError();
      PWL_DEBUG("CWinsocks::Connect - Connect (" + std::to_string(lastSockErr_) + ")");
      return -1;
    }
    if (hwndMsgs_ == 0) {
      PWL_DEBUG("CWinsocks::Connect - HwndMsgs is invalid (0)");
      lastSockErr_ = 0;
      return -1;
    }
    if (!Loop().AsyncSelect(s.get(), hwndMsgs_, platform::kSocketMessage,
                            platform::kFdRead | platform::kFdWrite | platform::kFdConnect | platform::kFdClose)) {
      return -1;
    }
  }
  if (!s) {
    lastSockErr_ = error;
    PWL_DEBUG("CWinsocks::Connect - Connect (" + std::to_string(error) + ")");
    return -1;
  }
  auto socket = std::make_unique<CWinsock>();
  socket->RegisterCWinsocks(this);
  socket->RemoteHostIP = address->Text();
  socket->RemotePort = port;
  socket->AddressFamily = address->FamilyNumber();
  socket->Adopt(std::move(s));
  socket->SetProtocol(streamType);
  if (streamType == PWL_TCPIP) {
    socket->LocalPort = LocalPortOf(socket->Fd());
    socket->MarkLingerSet();
  }
  const std::int32_t handle = socket->SocketHandle;
  Add(std::move(socket), std::to_string(handle));
  RaiseEventConnectionEstablished(handle);
  return handle;
}

std::int32_t CWinsocks::ConnectAsync(const std::string& host, std::int32_t port, PWL_PROTOCOL streamType,
                                     std::int32_t adapterNumber, std::int32_t timeoutMs) {
  // A datagram "connection" completes at once.
  if (streamType != PWL_TCPIP) return Connect(host, port, streamType, adapterNumber);
  const auto address = ConnectTarget(host, port, adapterNumber, streamType);
  if (!address) return -1;
  if (hwndMsgs_ == 0) {
    PWL_DEBUG("CWinsocks::Connect - HwndMsgs is invalid (0)");
    lastSockErr_ = 0;
    return -1;
  }
  platform::UniqueFd s(::socket(address->Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  int error = 0;
  if (!s || SetSockLinger(s.get(), true, 0) == -1 ||
      !Loop().AsyncSelect(s.get(), hwndMsgs_, platform::kSocketMessage,
                          platform::kFdRead | platform::kFdWrite | platform::kFdConnect | platform::kFdClose,
                          platform::EventLoop::SocketKind::Stream)) {
    error = LastSystemError();
    if (s) Loop().Unwatch(s.get());
    lastSockErr_ = error;
    PWL_DEBUG("CWinsocks::Connect - Connect (" + std::to_string(error) + ")");
    return -1;
  }
  Loop().MarkConnecting(s.get());
  if (::connect(s.get(), address->Data(), address->Length()) != 0 && errno != EINPROGRESS) {
    lastSockErr_ = LastSystemError();
    Loop().Unwatch(s.get());
    PWL_DEBUG("CWinsocks::Connect - Connect (" + std::to_string(lastSockErr_) + ")");
    return -1;
  }
  auto socket = std::make_unique<CWinsock>();
  socket->SetState(PWL_CONNECTING);  // not attached yet: no event for a handle the caller does not know
  socket->RegisterCWinsocks(this);
  socket->RemoteHostIP = address->Text();
  socket->RemotePort = port;
  socket->AddressFamily = address->FamilyNumber();
  socket->Adopt(std::move(s));
  socket->SetProtocol(PWL_TCPIP);
  socket->LocalPort = LocalPortOf(socket->Fd());
  socket->MarkLingerSet();
  socket->StartConnecting(timeoutMs);
  const std::int32_t handle = socket->SocketHandle;
  Add(std::move(socket), std::to_string(handle));
  return handle;
}

std::int32_t CWinsocks::AddListener(std::int32_t port, PWL_PROTOCOL protocol, std::int32_t adapterNumber,
                                    std::int32_t backLog) {
  if (protocol != PWL_TCPIP && protocol != PWL_UDP) return -1;
  return AddListening(protocol, [&](CWinsock& socket) {
    return socket.Listen(port, protocol == PWL_TCPIP ? SOCK_STREAM : SOCK_DGRAM, adapterNumber, backLog);
  });
}

std::int32_t CWinsocks::AddListenerOn(std::int32_t port, const std::string& address, std::int32_t backLog) {
  return AddListening(PWL_TCPIP, [&](CWinsock& socket) { return socket.ListenOn(port, address, backLog); });
}

// A new socket that `listen` binds (its handle, or -1) joins the registry
// as listening.
std::int32_t CWinsocks::AddListening(PWL_PROTOCOL protocol, const std::function<std::int32_t(CWinsock&)>& listen) {
  auto socket = std::make_unique<CWinsock>();
  socket->RegisterCWinsocks(this);
  const auto life = Life();
  const std::int32_t handle = listen(*socket);
  if (life.expired()) return -1;
  if (handle == -1) {
    socket->UnRegisterCWinsocks();
    return -1;
  }
  socket->SetProtocol(protocol);
  CWinsock* added = socket.get();
  Add(std::move(socket), std::to_string(handle));
  added->SetState(PWL_LISTENING);
  return handle;
}

bool CWinsocks::AcceptConnection(std::int32_t listener, platform::UniqueFd accepted, const SocketAddress* peer) {
  const int fd = accepted.get();
  auto socket = std::make_unique<CWinsock>();
  socket->RegisterCWinsocks(this);
  // As the server expects: RemotePort holds the port the connection arrived
  // on, LocalPort the peer's port. Accept told the peer, and the listener's
  // port is the one it was bound to: no need to ask the system again.
  const CWinsock* listening = FindHandle(listener);
  if (peer != nullptr && !peer->Empty() && listening != nullptr && listening->LocalPort > 0) {
    socket->RemoteHostIP = peer->Text();
    socket->RemotePort = listening->LocalPort;
    socket->LocalPort = peer->Port();
  } else {
    socket->RemoteHostIP = PeerAddressText(fd);
    socket->RemotePort = LocalPortOf(fd);
    socket->LocalPort = PeerPort(fd);
  }
  socket->SetProtocol(PWL_TCPIP);
  socket->ListenerHandle = listener;
  // Accepted sockets are of their listener's family (which accept told).
  if (peer != nullptr && !peer->Empty()) {
    socket->AddressFamily = peer->FamilyNumber();
  } else if (listening != nullptr) {
    socket->AddressFamily = listening->AddressFamily;
  }
  // The system hands the listener's cork on.
  if (listening != nullptr) socket->SetCorkedByClient(listening->CorkedByClient());
  // Accepted non-blocking (accept4), and a connected stream socket.
  if (!Loop().AsyncSelect(fd, hwndMsgs_, platform::kSocketMessage,
                          platform::kFdRead | platform::kFdWrite | platform::kFdAccept | platform::kFdClose,
                          platform::EventLoop::SocketKind::Stream)) {
    // Without notifications the connection could never be served: drop it.
    lastSockErr_ = LastSystemError();
    PWL_DEBUG("CWinsocks::AcceptConnection - AsyncSelect failed (" + std::to_string(lastSockErr_) + ")");
    socket->UnRegisterCWinsocks();
    return false;
  }
  socket->Adopt(std::move(accepted));
  CWinsock* added = socket.get();
  const auto socketLife = added->Life();
  const auto life = Life();
  const std::string key = std::to_string(fd);
  Add(std::move(socket), key);

  bool accept = true;
  RaiseEventConnectionRequest(fd, accept);
  if (life.expired() || socketLife.expired()) return false;
  if (!accept) {
    added->SetState(PWL_REJECTED_CONNECTION);
    if (life.expired() || socketLife.expired()) return false;
    DeleteByKey(key);
  }
  return accept;
}

// ---- closing -------------------------------------------------------------------------------

std::int32_t CWinsocks::CloseSock(const std::string& key) {
  CWinsock& socket = Item(key);
  const auto life = socket.Life();
  if (!socket.CloseSockWithLinger() && !life.expired() && ItemExists(key)) {
    // No linger timer: the end comes now, still after the queued blocks.
    if (!socket.DeliverQueued(true) || life.expired() || !ItemExists(key)) return 0;
    CloseSockDown(key);
  }
  return 0;
}

std::int32_t CWinsocks::CloseSockDown(const std::string& key) {
  CWinsock& socket = Item(key);
  const std::int32_t number = *ParseKey(key);
  const auto life = Life();
  const auto socketLife = socket.Life();
  RaiseEventConnectionTerminated(number);
  if (life.expired()) return number;
  if (!socketLife.expired()) {
    socket.SetState(PWL_CLOSED);
    if (life.expired()) return number;
  }
  if (!socketLife.expired() && Find(key) == &socket) DeleteByKey(key);
  return number;
}

// ---- collection -------------------------------------------------------------------------------

CWinsock* CWinsocks::FindHandle(std::int32_t handle) const {
  const auto it = byKey_.find(handle);
  return it == byKey_.end() ? nullptr : it->second;
}

CWinsock* CWinsocks::Find(const std::string& key) const {
  const auto handle = ParseKey(key);
  return handle ? FindHandle(*handle) : nullptr;
}

bool CWinsocks::Exists(const std::string& handleText) const {
  // A socket's handle changes after registration only to 0 (when it is
  // closed), so any other handle is found under its own key.
  const auto handle = ParseKey(handleText);
  if (!handle) return false;
  if (*handle != 0) {
    const CWinsock* socket = FindHandle(*handle);
    return socket != nullptr && socket->SocketHandle == *handle;
  }
  return std::any_of(items_.begin(), items_.end(), [](const auto& s) { return s->SocketHandle == 0; });
}

CWinsock& CWinsocks::Item(const std::string& key) const {
  CWinsock* socket = Find(key);
  if (socket == nullptr) throw std::out_of_range("Item does not exist in collection (socket handle: " + key + ")");
  return *socket;
}

CWinsock& CWinsocks::ItemByIndex(std::int32_t index) const {
  if (index < 1 || index > Count()) {
    throw std::out_of_range("Item does not exist in collection (index: " + std::to_string(index) + ")");
  }
  return *items_[static_cast<std::size_t>(index - 1)];
}

void CWinsocks::Add(std::unique_ptr<CWinsock> socket, const std::string& key) {
  const auto handle = ParseKey(key);
  if (!handle || byKey_.count(*handle) > 0) throw std::invalid_argument("Key is already associated with an element");
  socket->MarkAdded();
  byKey_[*handle] = socket.get();
  items_.push_back(std::move(socket));
}

void CWinsocks::DeleteByKey(const std::string& key) {
  CWinsock& socket = Item(key);
  const auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& s) { return s.get() == &socket; });
  std::unique_ptr<CWinsock> removed = std::move(*it);
  items_.erase(it);
  byKey_.erase(*ParseKey(key));
  removed->UnRegisterCWinsocks();
  // Dropping the object closes its socket.
}

void CWinsocks::DeleteByIndex(std::int32_t index) {
  CWinsock& socket = ItemByIndex(index);
  for (auto it = byKey_.begin(); it != byKey_.end(); ++it) {
    if (it->second == &socket) {
      DeleteByKey(std::to_string(it->first));
      return;
    }
  }
}

void CWinsocks::Clear() {
  while (!items_.empty()) {
    std::unique_ptr<CWinsock> removed = std::move(items_.front());
    items_.erase(items_.begin());
    for (auto it = byKey_.begin(); it != byKey_.end(); ++it) {
      if (it->second == removed.get()) {
        byKey_.erase(it);
        break;
      }
    }
    removed->UnRegisterCWinsocks();
  }
}

// ---- events -----------------------------------------------------------------------------------------

void CWinsocks::RaiseEventConnectionStatus(std::int32_t handle, PWL_SOCK_STATE state) {
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->ConnectionStatus(handle, state);
}

void CWinsocks::RaiseEventError(std::int32_t handle, std::int32_t number) {
  if (CWinsock* socket = FindHandle(handle)) socket->MarkFailed();
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->Error(handle, number);
}

void CWinsocks::RaiseEventConnectionRequest(std::int32_t handle, bool& accept) {
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->ConnectionRequest(handle, accept);
}

void CWinsocks::RaiseEventConnectionEstablished(std::int32_t handle) {
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->ConnectionEstablished(handle);
}

void CWinsocks::RaiseEventTlsEstablished(std::int32_t handle, bool resumed) {
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->TlsEstablished(handle, resumed);
}

void CWinsocks::RaiseEventTlsFailed(std::int32_t handle, const std::string& reason) {
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->TlsFailed(handle, reason);
}

void CWinsocks::RaiseEventConnectionTerminated(std::int32_t handle) {
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->ConnectionTerminated(handle);
}

void CWinsocks::RaiseEventEmptySendQue(std::int32_t handle, std::string eventId) {
  const auto life = Life();
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->EmptySendQue(handle, eventId);
  if (life.expired()) return;
  if (CWinsock* socket = FindHandle(handle)) socket->SetBytesSent(0);
}

SendOutcome CWinsocks::RaiseEventSendAllDataForConnection(const std::string& key) {
  CWinsock* socket = Find(key);
  if (socket == nullptr) return SendOutcome::Idle;
  return socket->SendAllDataForConnection();
}

bool CWinsocks::RaiseEventDataArrival(CWinsock& socket, PortwellData& block, bool fromQueue,
                                      const std::string& senderHost, std::int32_t senderPort) {
  const std::int32_t handle = socket.SocketHandle;
  const bool datagram = socket.Protocol() == PWL_UDP;
  const auto life = Life();
  const auto socketLife = socket.Life();
  bool retrieved = true;
  if (fromQueue) {
    if (datagram) {
      socket.LastRemoteHostUDP = senderHost;
      socket.LastRemotePortUDP = std::to_string(senderPort);
    }
    if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->DataArrival(handle, block, retrieved);
    if (life.expired()) return retrieved;
    if (retrieved) {
      WrapAdd(RequestsProcessed, 1);
    } else if (!mobjQueReceiveTimer->Enabled()) {
      mobjQueReceiveTimer->EnableTimer();
    }
    return retrieved;
  }
  // Blocks still queued (buffered, or declined earlier) go first: keep the
  // stream's order.
  if (socket.UseBufferToReceive || socket.ReceiveQueue().Count() > 0) {
    socket.ReceiveQueue().AddRequest(CQueReceiveRequest{std::move(block), handle, senderHost, senderPort});
    WrapAdd(RequestsReceived, 1);
    if (!mobjQueReceiveTimer->Enabled()) mobjQueReceiveTimer->EnableTimer();
    return true;
  }
  if (datagram) {
    socket.LastRemoteHostUDP = senderHost;
    socket.LastRemotePortUDP = std::to_string(senderPort);
  }
  WrapAdd(RequestsReceived, 1);
  if (sink_ != nullptr && *sink_ != nullptr) (*sink_)->DataArrival(handle, block, retrieved);
  if (life.expired()) return retrieved;
  if (retrieved) {
    WrapAdd(RequestsProcessed, 1);
  } else if (!socketLife.expired()) {
    // Declined: kept for a later offer from the receive queue. A block
    // declined for a socket that is gone is dropped.
    socket.ReceiveQueue().AddRequest(CQueReceiveRequest{std::move(block), handle, senderHost, senderPort});
    if (!mobjQueReceiveTimer->Enabled()) mobjQueReceiveTimer->EnableTimer();
  }
  return retrieved;
}

// ---- notifications ------------------------------------------------------------------------------------

void CWinsocks::FailAndClose(CWinsock& socket, const std::string& what, std::uint32_t error, bool stateFirst) {
  const std::int32_t handle = socket.SocketHandle;
  const std::string key = std::to_string(handle);
  const auto life = Life();
  const auto socketLife = socket.Life();
  auto gone = [&] { return life.expired() || socketLife.expired(); };
  if (stateFirst) {
    PWL_DEBUG("MPortwell::WindowProc - " + what + " error (" + ErrorAndText(error));
    socket.SetState(PWL_ERROR);
    if (gone()) return;
    RaiseEventError(handle, static_cast<std::int32_t>(error));
  } else {
    PWL_DEBUG("MPortwell::WindowProc - " + what + " error " + ErrorAndText(error));
    RaiseEventError(handle, static_cast<std::int32_t>(error));
    if (gone()) return;
    socket.SetState(PWL_ERROR);
  }
  if (gone()) return;
  PWL_DEBUG("MPortwell::WindowProc - " + what + " error, closing socket (handle: " + key + ")");
  if (ItemExists(key)) CloseSock(key);
}

void CWinsocks::OnSocketMessage(std::int32_t handle, std::uint32_t event, std::uint32_t error) {
  CWinsock* socket = FindHandle(handle);
  if (socket == nullptr) return;
  const std::string key = std::to_string(handle);
  const auto life = Life();
  const auto socketLife = socket->Life();
  switch (event) {
    case platform::kFdRead:
      if (error != 0) {
        FailAndClose(*socket, "FD_READ", error, true);
      } else {
        OnRead(*socket);
      }
      break;
    case platform::kFdWrite:
      PWL_DEBUG("MPortwell::WindowProc - FD_WRITE (socket handle " + key + ")");
      RaiseEventSendAllDataForConnection(key);
      break;
    case platform::kFdAccept:
      if (error != 0) {
        FailAndClose(*socket, "FD_ACCEPT", error, false);
      } else {
        OnAccept(*socket);
      }
      break;
    case platform::kFdConnect:
      OnConnect(*socket, error);
      break;
    case platform::kFdClose:
      OnClose(*socket, error);
      break;
    default:
      break;
  }
}

void CWinsocks::OnClose(CWinsock& socket, std::uint32_t error) {
  const std::string key = std::to_string(socket.SocketHandle);
  const auto life = Life();
  const auto socketLife = socket.Life();
  auto gone = [&] { return life.expired() || socketLife.expired(); };
  PWL_DEBUG("MPortwell::WindowProc - FD_CLOSE fired (socket handle " + key + ")");
  if (socket.Tls() != nullptr) {
    // The peer's close_notify and its FIN after it are one end.
    if (error == 0 && socket.PeerEndReported()) return;
    // A handshake that can no longer finish fails first.
    if (!socket.TlsEndedEarly(error != 0) || gone()) return;
    // Plaintext the library still holds goes before the end.
    if (error == 0 && !socket.ReceivePaused() && socket.TlsBufferedInput() > 0) {
      int ignored = 0;
      if (socket.TlsDeliverBuffered("MPortwell::WindowProc - FD_CLOSE", &ignored) == DrainEnd::Destroyed || gone()) {
        return;
      }
    }
  }
  if (error != 0) {
    FailConnection(socket, static_cast<std::int32_t>(error));
    if (gone()) return;
  } else {
    // The peer's clean close comes after the data before it: while paused it
    // waits, and the queued blocks are offered first.
    if (socket.ReceivePaused()) {
      socket.DeferClose();
      return;
    }
    if (!socket.DeliverQueued(false) || gone()) return;
    if (socket.ReceivePaused()) {
      socket.DeferClose();
      return;
    }
  }
  // The peer ended the connection; an Error raised before says it failed.
  if (socket.Tls() != nullptr) socket.MarkPeerEndReported();
  socket.SetState(PWL_CLOSING);
  if (gone()) return;
  if (ItemExists(key)) CloseSock(key);
}

void CWinsocks::FailConnection(CWinsock& socket, std::int32_t number) {
  const std::int32_t handle = socket.SocketHandle;
  const auto life = Life();
  const auto socketLife = socket.Life();
  auto gone = [&] { return life.expired() || socketLife.expired(); };
  // A failure ends a pause: nobody would read what it holds back.
  socket.EndPause();
  // Stream order: what the system still holds and the queued blocks, then
  // the failure.
  int ignored = 0;
  if (socket.DrainInput("MPortwell::WindowProc - connection error", 0, &ignored) == DrainEnd::Destroyed || gone()) {
    return;
  }
  if (!socket.DeliverQueued(false) || gone() || socket.Failed()) return;
  PWL_DEBUG("MPortwell::WindowProc - connection error " + ErrorAndText(static_cast<std::uint32_t>(number)) +
            " (socket handle " + std::to_string(handle) + ")");
  // Data that still waited to go out is lost with the connection.
  socket.QueSendClear();
  RaiseEventError(handle, number);
  if (gone()) return;
  socket.SetState(PWL_ERROR);
}

void CWinsocks::OnConnect(CWinsock& socket, std::uint32_t error) {
  // Only a non-blocking connect waits for this; a late report after its
  // time-out is stale.
  if (!socket.Connecting()) return;
  socket.StopConnecting();
  const std::int32_t handle = socket.SocketHandle;
  if (error != 0) {
    socket.QueSendClear();
    // The attempt is over: nothing more will be reported for this socket.
    Loop().Unwatch(socket.Fd());
    FailAndClose(socket, "FD_CONNECT", error, false);
    return;
  }
  PWL_DEBUG("MPortwell::WindowProc - FD_CONNECT Accepted connection (handle: " + std::to_string(handle) + ")");
  const auto life = Life();
  const auto socketLife = socket.Life();
  socket.SetState(PWL_CONNECTED);
  if (life.expired() || socketLife.expired()) return;
  RaiseEventConnectionEstablished(handle);
}

void CWinsocks::OnRead(CWinsock& socket) {
  // Paused: the loop posts the read again when reading resumes.
  if (socket.ReceivePaused()) return;
  const std::int32_t handle = socket.SocketHandle;
  if (socket.Tls() != nullptr && socket.Protocol() == PWL_TCPIP) {
    OnTlsRead(socket);
    return;
  }
  const bool datagram = socket.Protocol() == PWL_UDP;
  sockaddr_in from{};
  unsigned fromLength = sizeof from;
  const bool raw = !datagram && socket.NoUnicodeConversionOnRecv;
  std::string& rawBlock = RawReceiveBlock();
  if (raw && rawBlock.size() != kRawStreamReceiveLimit) rawBlock.resize(kRawStreamReceiveLimit);
  const long n = datagram ? Loop().RecvFrom(socket.Fd(), gReceiveBuffer, kReceiveLimit, &from, &fromLength)
                 : raw    ? Loop().Recv(socket.Fd(), rawBlock.data(), kRawStreamReceiveLimit)
                          : Loop().Recv(socket.Fd(), gReceiveBuffer, kReceiveLimit);
  if (n < 0) {
    const int saved = errno;
    // A notification whose data is already gone: nothing to report.
    if (WouldBlock(saved)) return;
    const int number = platform::WinsockErrorFromErrno(saved);
    PWL_DEBUG("MPortwell::WindowProc - FD_READ error " + ErrorAndText(static_cast<std::uint32_t>(number)));
    if (!datagram) {
      // The loop's close notification follows and ends the connection.
      FailConnection(socket, number);
      return;
    }
    const auto life = Life();
    const auto socketLife = socket.Life();
    RaiseEventError(handle, number);
    if (life.expired() || socketLife.expired()) return;
    socket.SetState(PWL_ERROR);
    return;
  }
  if (n == 0) {
    PWL_DEBUG("MPortwell::WindowProc - FD_READ fired (0 bytes read)");
    return;
  }
  socket.NoteReceived();
  PortwellData block;
  if (raw && n < kRawCopyBelow) {
    block.MutableBytes().assign(rawBlock.data(), static_cast<std::size_t>(n));
  } else if (raw) {
    rawBlock.resize(static_cast<std::size_t>(n));
    block.MutableBytes().swap(rawBlock);
  } else if (socket.NoUnicodeConversionOnRecv) {
    block.MutableBytes().assign(gReceiveBuffer, static_cast<std::size_t>(n));
  } else {
    std::u16string text(static_cast<std::size_t>(n), u'\0');
    const auto* bytes = reinterpret_cast<const unsigned char*>(gReceiveBuffer);
    for (long i = 0; i < n; ++i) text[static_cast<std::size_t>(i)] = bytes[i];
    block = PortwellData(std::move(text));
  }
  PWL_DEBUG("MPortwell::WindowProc - FD_READ Received " + std::to_string(n) + " bytes (socket handle " +
            std::to_string(handle) + ")");
  const std::string senderHost = datagram ? AddressText(from.sin_addr.s_addr) : std::string();
  const std::int32_t senderPort = datagram ? ntohs(from.sin_port) : 0;
  RaiseEventDataArrival(socket, block, false, senderHost, senderPort);
  // Take the storage back unless the client kept it (or a nested read took
  // the spare one meanwhile).
  if (raw && n >= kRawCopyBelow && RawReceiveBlock().capacity() < block.Bytes().capacity()) {
    RawReceiveBlock().swap(block.MutableBytes());
  }
}

void CWinsocks::OnTlsRead(CWinsock& socket) {
  const std::string key = std::to_string(socket.SocketHandle);
  const auto life = Life();
  const auto socketLife = socket.Life();
  int error = 0;
  const DrainEnd end = socket.TlsReceive("MPortwell::WindowProc - FD_READ", 1, &error);
  if (end != DrainEnd::Failed || life.expired() || socketLife.expired()) return;
  const bool broken = socket.TlsBroken();
  FailConnection(socket, error);
  if (life.expired() || socketLife.expired()) return;
  // A system failure is followed by the loop's close notification; a TLS
  // failure leaves a sound connection that only we can end.
  if (broken && ItemExists(key)) CloseSock(key);
}

void CWinsocks::OnAccept(CWinsock& listener) {
  const std::int32_t listenerHandle = listener.SocketHandle;
  sockaddr_storage peer{};
  unsigned peerLength = sizeof peer;
  const int fd = Loop().Accept(listener.Fd(), &peer, &peerLength);
  if (fd < 0) {
    const int saved = errno;
    // Another notification already took the connection.
    if (WouldBlock(saved)) return;
    const int number = platform::WinsockErrorFromErrno(saved);
    PWL_DEBUG("MPortwell::WindowProc - FD_ACCEPT Error " + ErrorAndText(static_cast<std::uint32_t>(number)));
    const auto life = Life();
    const auto listenerLife = listener.Life();
    RaiseEventError(listenerHandle, number);
    if (life.expired() || listenerLife.expired()) return;
    listener.SetState(PWL_ERROR);
    return;
  }
  const auto life = Life();
  const auto* peerData = reinterpret_cast<const sockaddr*>(&peer);
  const SocketAddress peerAddress =
      peerLength <= sizeof peer ? SocketAddress::FromSystem(peerData, peerLength) : SocketAddress();
  if (!AcceptConnection(listenerHandle, platform::UniqueFd(fd), &peerAddress)) return;
  if (life.expired()) return;
  CWinsock* accepted = FindHandle(fd);
  if (accepted == nullptr) return;
  const auto acceptedLife = accepted->Life();
  accepted->SetState(PWL_ACCEPTED_CONNECTION);
  if (life.expired() || acceptedLife.expired()) return;
  PWL_DEBUG("MPortwell::WindowProc - FD_ACCEPT fired (local port " + std::to_string(accepted->LocalPort) +
            ", remote port " + std::to_string(accepted->RemotePort) + ", listening socket handle " +
            std::to_string(listenerHandle) + ", new socket handle " + std::to_string(fd) + ")");
}

// ---- queue ticks -----------------------------------------------------------------------------------------

void CWinsocks::QueReceiveTick() {
  const auto life = Life();
  bool idle = true;
  if (!items_.empty() && !receiveBusy_) {
    receiveBusy_ = true;
    try {
      const std::size_t count = items_.size();
      for (std::size_t i = 0; i < count && i < items_.size(); ++i) {
        CWinsock* socket = items_[i].get();
        // A paused socket's blocks wait; unpausing starts the timer again.
        if (socket->ReceivePaused()) continue;
        const auto socketLife = socket->Life();
        while (socket->ReceiveQueue().Count() > 0 && !socket->ReceivePaused()) {
          idle = false;
          CQueReceiveRequest head = socket->ReceiveQueue().TakeFirst();
          const bool retrieved =
              RaiseEventDataArrival(*socket, head.DataReceived, true, head.RemoteHostUDP, head.RemotePortUDP);
          if (life.expired()) return;
          if (socketLife.expired()) break;
          if (!retrieved) {
            // Offered again on a later tick.
            socket->ReceiveQueue().PutBackFirst(std::move(head));
            break;
          }
        }
      }
    } catch (const std::exception& e) {
      if (life.expired()) return;
      PWL_DEBUG(std::string("mobjQueReceiveTimer::IntervalReached - ") + e.what() + ": 0");
    }
    receiveBusy_ = false;
  }
  if (idle) mobjQueReceiveTimer->DisableTimer();
}

void CWinsocks::DeliverQueuedBeforeStop() {
  std::vector<std::int32_t> handles;
  handles.reserve(items_.size());
  for (const auto& socket : items_) handles.push_back(socket->SocketHandle);
  const auto life = Life();
  for (const std::int32_t handle : handles) {
    CWinsock* socket = FindHandle(handle);
    if (socket == nullptr || socket->ReceivePaused() || socket->ReceiveQueue().Count() == 0) continue;
    try {
      socket->DeliverQueued(true);
    } catch (const std::exception& e) {
      // A handler failed: the stop goes on.
      if (life.expired()) return;
      PWL_DEBUG(std::string("CWinsocks::DeliverQueuedBeforeStop - ") + e.what());
    }
    if (life.expired()) return;
  }
}

void CWinsocks::QueToSendTick() {
  const auto life = Life();
  bool idle = true;
  if (!items_.empty() && !sendBusy_) {
    sendBusy_ = true;
    try {
      const std::size_t count = items_.size();
      for (std::size_t i = 0; i < count && i < items_.size(); ++i) {
        CWinsock* socket = items_[i].get();
        if (socket->SendQueue().Empty()) continue;
        idle = false;
        if (socket->Connecting()) continue;
        const SendOutcome outcome = socket->SendQueued(SendPath::Tick);
        if (life.expired()) return;
        // A full socket ends the whole tick.
        if (outcome == SendOutcome::Blocked) break;
      }
    } catch (const std::exception& e) {
      if (life.expired()) return;
      PWL_DEBUG(std::string("mobjQueToSendTimer::IntervalReached - ") + e.what() + ": 0");
    }
    sendBusy_ = false;
  }
  if (idle) mobjQueToSendTimer->DisableTimer();
}

// ---- module ---------------------------------------------------------------------------------------------------

void WindowProc(platform::TargetHandle window, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
  if (message != platform::kSocketMessage) return;
  auto& table = WindowTable();
  CWinsocks* registry = nullptr;
  if (table) {
    const auto it = table->find(window);
    if (it != table->end()) registry = it->second;
  }
  const auto handle = static_cast<std::int32_t>(wParam);
  if (registry == nullptr) {
    PWL_DEBUG("MPortwell::WindowProc Error - Rec'd Winsock event for unknown hwnd:" + std::to_string(window) +
              ") at " + SecondsSinceMidnight());
    return;
  }
  if (registry->FindHandle(handle) == nullptr) {
    PWL_DEBUG("MPortwell::WindowProc Error - Item does not exist in collection (socket handle:" +
              std::to_string(handle) + ") at " + SecondsSinceMidnight());
    return;
  }
  try {
    registry->OnSocketMessage(handle, platform::SelectEvent(lParam), platform::SelectError(lParam));
  } catch (const PortwellError& e) {
    PWL_DEBUG("MPortwell::WindowProc Error - An error occurred in the stack somewhere above this procedure or the "
              "component is being shut down from an event (socket handle:" +
              std::to_string(handle) + ") at " + SecondsSinceMidnight() + " (" + std::to_string(e.Number) + ": " +
              e.Description + ")");
  } catch (const std::exception& e) {
    PWL_DEBUG("MPortwell::WindowProc Error - An error occurred in the stack somewhere above this procedure or the "
              "component is being shut down from an event (socket handle:" +
              std::to_string(handle) + ") at " + SecondsSinceMidnight() + " (0: " + e.what() + ")");
  }
}

void DropWindowTable() { WindowTable().reset(); }

}  // namespace portwell
