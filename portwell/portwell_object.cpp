#include "portwell/portwell_object.h"

#include "portwell/debug_log.h"
#include "platform/host_info.h"
#include "platform/winsock_errors.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <new>

namespace portwell {

namespace {

// An address inside this library, to find the folder it was loaded from.
const char kModuleAnchor = 0;

// VB-style inner numbers for failures that are not the component's own.
constexpr std::int32_t kInvalidCall = 5;
constexpr std::int32_t kOutOfMemory = 7;
constexpr std::int32_t kObjectNotSet = 91;

struct Inner {
  std::int32_t number;
  std::string description;
};

Inner InnerOf(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) return {kOutOfMemory, "Out of memory"};
  return {kInvalidCall, e.what()};
}

// Runs `body`; any failure becomes a PortwellError after its debug line.
// `style` picks the debug form: "name - description (Error n)" or, for
// SendData, "name - n (description)".
template <typename Body>
auto Guarded(const char* name, bool numberFirst, Body body) -> decltype(body()) {
  auto fail = [&](const Inner& inner) {
    if (numberFirst) {
      PWL_DEBUG(std::string(name) + " - " + std::to_string(inner.number) + " (" + inner.description + ")");
    } else {
      PWL_DEBUG(std::string(name) + " - " + inner.description + " (Error " + std::to_string(inner.number) + ")");
    }
    throw PortwellError(inner.number, inner.description);
  };
  try {
    return body();
  } catch (const PortwellError&) {
    throw;  // already the component's error (raised by a nested call)
  } catch (const Inner& inner) {
    fail(inner);
  } catch (const std::exception& e) {
    fail(InnerOf(e));
  }
  throw PortwellError(kInvalidCall, "Invalid procedure call or argument");  // not reached
}

}  // namespace

CPortwellObject::CPortwellObject() {
  InitDebugLog(platform::ModuleFolder(&kModuleAnchor));
  mobjWinsocks = std::make_unique<CWinsocks>();
  mobjWinsocks->RegisterPortwell(&sink_);
  if (mobjWinsocks->WndCreate() < 1) {
    mobjWinsocks->UnRegisterPortwell();
    mobjWinsocks.reset();
    return;
  }
  mobjWinsocks->pGetQueToReceiveTimerObj().SetInterval(100);
  mobjWinsocks->pGetQueToSendTimerObj().SetInterval(100);
}

CPortwellObject::~CPortwellObject() {
  try {
    // The client may be half gone: nothing is raised any more.
    Guarded("CPortwell::Activate", false, [&] { return Stop(false); });
  } catch (...) {
  }
  if (mobjWinsocks) mobjWinsocks->WndDestroy();
  DropWindowTable();
  PWL_DEBUG("Before: Set mobjWinsocks = Nothing");
  mobjWinsocks.reset();
  PWL_DEBUG("After: Set mobjWinsocks = Nothing, Before: Set mobjFPortwell = Nothing");
  PWL_DEBUG("After: Set mobjFPortwell = Nothing, Before: Set pcolTimers = Nothing");
  DropTimerTable();
  PWL_DEBUG("After: Set pcolTimers = Nothing, Before: Set gobjPortwellDbg = Nothing (LAST EXECUTABLE LINE OF CODE)");
  DropDebugLog();
}

CWinsocks& CPortwellObject::Registry() const {
  if (!mobjWinsocks) throw Inner{kObjectNotSet, "Object variable or With block variable not set"};
  return *mobjWinsocks;
}

CWinsock& CPortwellObject::Socket(const std::string& key) const {
  if (!mobjWinsocks) throw std::out_of_range("Item does not exist in collection (socket handle: " + key + ")");
  return mobjWinsocks->Item(key);
}

std::int32_t CPortwellObject::LastSockErr() { return mobjWinsocks ? mobjWinsocks->TakeLastSockErr() : 0; }

std::int32_t CPortwellObject::hwnd() const { return mobjWinsocks ? mobjWinsocks->HwndMsgs() : 0; }

namespace {
PortwellSocketInfo Snapshot(CWinsock& s) {
  PortwellSocketInfo info;
  info.LastRemoteHostUDP = s.LastRemoteHostUDP;
  info.LastRemotePortUDP = s.LastRemotePortUDP;
  info.RemoteHostIP = s.RemoteHostIP;
  info.RemotePort = s.RemotePort;
  info.LocalPort = s.LocalPort;
  info.SocketHandle = s.SocketHandle;
  info.ChunkSize = s.ChunkSize;
  info.UseBufferToSend = s.UseBufferToSend;
  info.UseBufferToReceive = s.UseBufferToReceive;
  info.NoUnicodeConversionOnRecv = s.NoUnicodeConversionOnRecv;
  info.LocalIP = s.LocalIP();
  info.Protocol = s.Protocol();
  info.LingerTime = s.LingerTime();
  info.BytesSent = s.BytesSent();
  info.NotifyOnEmptyBytesToSend = s.NotifyOnEmptyBytesToSend();
  info.NotifyOnEmptySendQueID = s.NotifyOnEmptySendQueID();
  info.State = s.State();
  info.QueSendCount = s.QueSendCount();
  info.QueReceiveCount = s.QueReceiveCount();
  info.QueSendBytes = s.QueSendBytes();
  info.ReceivePaused = s.ReceivePaused();
  info.ListenerHandle = s.ListenerHandle;
  info.AddressFamily = s.AddressFamily;
  info.TlsState = s.TlsState();
  if (info.TlsState == PWL_TLS_ESTABLISHED) {
    info.TlsVersion = s.Tls()->Version();
    info.TlsResumed = s.Tls()->Resumed();
  }
  return info;
}
}  // namespace

PortwellSocketInfo CPortwellObject::ItemByKey(const std::string& SocketHandle) const {
  return Snapshot(Socket(SocketHandle));
}

PortwellSocketInfo CPortwellObject::ItemByIndex(std::int32_t Index) const {
  if (!mobjWinsocks) throw std::out_of_range("Item does not exist in collection");
  return Snapshot(mobjWinsocks->ItemByIndex(Index));
}

bool CPortwellObject::ItemExists(const std::string& SocketHandle) const {
  return mobjWinsocks && mobjWinsocks->Exists(SocketHandle);
}

void CPortwellObject::NotifyOnEmptySendQue(const std::string& SocketHandle, const std::string& EventID,
                                           std::int32_t BytesToSend) {
  CWinsock& s = Socket(SocketHandle);
  s.SetNotifyOnEmptySendQueID(EventID);
  s.SetNotifyOnEmptyBytesToSend(BytesToSend);
  // Counted from now: arming with what is queued fires when it has gone.
  s.SetBytesSent(0);
}

std::int32_t CPortwellObject::ChunkSize() const { return mobjWinsocks ? mobjWinsocks->ChunkSize() : 0; }

void CPortwellObject::SetChunkSize(std::int32_t Value) { Registry().SetChunkSize(Value); }

bool CPortwellObject::Activate(bool ActivationStatus) {
  return Guarded("CPortwell::Activate", false, [&] {
    CWinsocks& registry = Registry();
    if (ActivationStatus) {
      if (isActive_) return true;
      if (registry.Started()) return false;
      isActive_ = registry.StartWinsockServices();
      return isActive_;
    }
    return Stop(true);
  });
}

bool CPortwellObject::Stop(bool deliver) {
  if (!isActive_ || !mobjWinsocks) return false;
  CWinsocks& registry = *mobjWinsocks;
  if (deliver) {
    registry.DeliverQueuedBeforeStop();
    // A handler may have stopped the object itself.
    if (!isActive_ || !mobjWinsocks) return false;
  }
  registry.Clear();
  if (registry.Started()) registry.StopWinsockServices();
  registry.UnRegisterPortwell();
  isActive_ = false;
  return false;
}

void CPortwellObject::SendData(std::int32_t SocketHandle, const PortwellData& Data, const std::string& RemoteHostUDP,
                               std::int32_t RemotePortUDP) {
  Guarded("CPortwell::SendData", true, [&] {
    if (!isActive_) throw Inner{1000, "No active connections"};
    CWinsocks& registry = Registry();
    CWinsock& socket = registry.Item(std::to_string(SocketHandle));
    if (socket.UseBufferToSend) {
      WrapAdd(registry.RequestsToSendReceived,
              socket.SendQueue().AddRequests(Data, registry.ChunkSize(), RemoteHostUDP, RemotePortUDP));
      registry.pGetQueToSendTimerObj().EnableTimer();
    } else {
      socket.SendDataWhenReady(Data, RemoteHostUDP, RemotePortUDP);
    }
  });
}

std::int32_t CPortwellObject::CloseSock(const std::string& SocketHandle, bool NoLinger) {
  return Guarded("CPortwell::CloseSock", false, [&]() -> std::int32_t {
    if (!isActive_) return 0;
    const auto number = ParseKey(SocketHandle);
    if (!number || *number <= 0) return 0;
    CWinsocks& registry = Registry();
    if (NoLinger) return registry.CloseSockDown(SocketHandle);
    registry.CloseSock(SocketHandle);
    return 0;
  });
}

std::int32_t CPortwellObject::Connect(const std::string& Host, std::int32_t Port, PWL_PROTOCOL StreamType,
                                      std::int32_t AdapterNumber) {
  if (!mobjWinsocks) return -1;
  if (!mobjWinsocks->Started()) {
    mobjWinsocks->SetLastSockErr(10093);  // services not started
    return -1;
  }
  return mobjWinsocks->Connect(Host, Port, StreamType, AdapterNumber);
}

std::int32_t CPortwellObject::ConnectAsync(const std::string& Host, std::int32_t Port, PWL_PROTOCOL StreamType,
                                           std::int32_t AdapterNumber, std::int32_t TimeoutMs) {
  if (!mobjWinsocks) return -1;
  if (!mobjWinsocks->Started()) {
    mobjWinsocks->SetLastSockErr(10093);
    return -1;
  }
  return mobjWinsocks->ConnectAsync(Host, Port, StreamType, AdapterNumber, TimeoutMs);
}

std::int32_t CPortwellObject::AddListener(std::int32_t PortToListenOn, PWL_PROTOCOL Protocol,
                                          std::int32_t AdapterNumber, std::int32_t BackLog) {
  if (!mobjWinsocks) return -1;
  if (!mobjWinsocks->Started()) {
    mobjWinsocks->SetLastSockErr(10093);
    return -1;
  }
  return mobjWinsocks->AddListener(PortToListenOn, Protocol, AdapterNumber, BackLog);
}

std::int32_t CPortwellObject::AddListenerOn(std::int32_t PortToListenOn, const std::string& Address,
                                            std::int32_t BackLog) {
  if (!mobjWinsocks) return -1;
  if (!mobjWinsocks->Started()) {
    mobjWinsocks->SetLastSockErr(10093);
    return -1;
  }
  return mobjWinsocks->AddListenerOn(PortToListenOn, Address, BackLog);
}

std::int32_t CPortwellObject::RequestsReceived() const { return mobjWinsocks ? mobjWinsocks->RequestsReceived : 0; }
std::int32_t CPortwellObject::RequestsProcessed() const { return mobjWinsocks ? mobjWinsocks->RequestsProcessed : 0; }
std::int32_t CPortwellObject::RequestsToSendReceived() const {
  return mobjWinsocks ? mobjWinsocks->RequestsToSendReceived : 0;
}
std::int32_t CPortwellObject::RequestsToSendProcessed() const {
  return mobjWinsocks ? mobjWinsocks->RequestsToSendProcessed : 0;
}
std::int32_t CPortwellObject::NumberOfConnections() const { return mobjWinsocks ? mobjWinsocks->Count() : 0; }

std::vector<std::string> CPortwellObject::Aliases() const {
  return mobjWinsocks ? mobjWinsocks->Aliases : std::vector<std::string>{};
}
std::string CPortwellObject::LocalHostName() const { return mobjWinsocks ? mobjWinsocks->LocalHostName : ""; }
std::vector<std::string> CPortwellObject::LocalHostIP() const {
  return mobjWinsocks ? mobjWinsocks->LocalHostIP : std::vector<std::string>{};
}
std::string CPortwellObject::LocalHostIP(std::int32_t Index) const {
  return mobjWinsocks ? mobjWinsocks->LocalHostIPAt(Index) : "";
}
std::vector<std::string> CPortwellObject::LocalHostIP6() const {
  return mobjWinsocks ? mobjWinsocks->LocalHostIP6 : std::vector<std::string>{};
}

std::int32_t CPortwellObject::LocalPort(std::int32_t SocketHandle) const {
  return Socket(std::to_string(SocketHandle)).LocalPort;
}

std::string CPortwellObject::SocketInfoMaxSockets() const { return Registry().SocketInfoMaxSockets; }
std::string CPortwellObject::SocketInfoDescription() const { return Registry().SocketInfoDescription; }
std::string CPortwellObject::SocketInfoHighVersion() const { return Registry().SocketInfoHighVersion; }
std::string CPortwellObject::SocketInfoMaxUdpDg() const { return Registry().SocketInfoMaxUdpDg; }
std::string CPortwellObject::SocketInfoSystemStatus() const { return Registry().SocketInfoSystemStatus; }
std::string CPortwellObject::SocketInfoVendorInfo() const { return Registry().SocketInfoVendorInfo; }
std::string CPortwellObject::SocketInfoVersion() const { return Registry().SocketInfoVersion; }

bool CPortwellObject::UseBufferToSend(const std::string& SocketHandle) const {
  return Socket(SocketHandle).UseBufferToSend;
}

void CPortwellObject::SetUseBufferToSend(const std::string& SocketHandle, bool Value) {
  Socket(SocketHandle).UseBufferToSend = Value;
  CTimer& timer = Registry().pGetQueToSendTimerObj();
  if (Value) {
    timer.EnableTimer();
  } else {
    timer.DisableTimer();
  }
}

bool CPortwellObject::UseBufferToReceive(const std::string& SocketHandle) const {
  return Socket(SocketHandle).UseBufferToReceive;
}

void CPortwellObject::SetUseBufferToReceive(const std::string& SocketHandle, bool Value) {
  Socket(SocketHandle).UseBufferToReceive = Value;
  CTimer& timer = Registry().pGetQueToReceiveTimerObj();
  if (Value) {
    timer.EnableTimer();
  } else {
    timer.DisableTimer();
  }
}

std::string CPortwellObject::RemoteHostIP(const std::string& SocketHandle) const {
  return Socket(SocketHandle).RemoteHostIP;
}
std::string CPortwellObject::RemoteHostName(const std::string& SocketHandle) const {
  return Socket(SocketHandle).RemoteHostName();
}
std::int32_t CPortwellObject::RemotePort(const std::string& SocketHandle) const {
  return Socket(SocketHandle).RemotePort;
}

std::int16_t CPortwellObject::ProcessingIntervalReceive() const {
  return mobjWinsocks ? static_cast<std::int16_t>(mobjWinsocks->pGetQueToReceiveTimerObj().Interval()) : 0;
}

void CPortwellObject::SetProcessingIntervalReceive(std::int16_t Value) {
  Guarded("CPortwell::ProcessingIntervalReceive", false,
          [&] { Registry().pGetQueToReceiveTimerObj().SetInterval(Value); });
}

std::int16_t CPortwellObject::ProcessingIntervalToSend() const {
  return mobjWinsocks ? static_cast<std::int16_t>(mobjWinsocks->pGetQueToSendTimerObj().Interval()) : 0;
}

void CPortwellObject::SetProcessingIntervalToSend(std::int16_t Value) {
  Guarded("CPortwell::ProcessingIntervalToSend", false,
          [&] { Registry().pGetQueToSendTimerObj().SetInterval(Value); });
}

std::int32_t CPortwellObject::SendFile(std::int32_t SocketHandle, const std::string& FilePath, std::int64_t Offset,
                                       std::int64_t Length) {
  if (!isActive_ || !mobjWinsocks) return 1000;
  CWinsock* socket = mobjWinsocks->Find(std::to_string(SocketHandle));
  if (socket == nullptr) return 10038;
  if (socket->Protocol() != PWL_TCPIP) return 10045;
  platform::UniqueFd file(::open(FilePath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return platform::WinsockErrorFromErrno(errno);
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return platform::WinsockErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return 10022;
  const std::int64_t size = st.st_size;
  if (Length < 0) Length = size - Offset;
  if (Offset < 0 || Offset > size || Length < 0 || Length > size - Offset) return 10022;
  return QueueFileRange(SocketHandle, std::move(file), Offset, Length);
}

std::int32_t CPortwellObject::SendFileDescriptor(std::int32_t SocketHandle, int FileDescriptor, std::int64_t Offset,
                                                 std::int64_t Length) {
  platform::UniqueFd file(FileDescriptor);
  if (!isActive_ || !mobjWinsocks) return 1000;
  CWinsock* socket = mobjWinsocks->Find(std::to_string(SocketHandle));
  if (socket == nullptr) return 10038;
  if (socket->Protocol() != PWL_TCPIP) return 10045;
  if (!file || Offset < 0) return 10022;
  if (Length < 0) {
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return platform::WinsockErrorFromErrno(errno);
    if (!S_ISREG(st.st_mode) || Offset > st.st_size) return 10022;
    Length = st.st_size - Offset;
  }
  return QueueFileRange(SocketHandle, std::move(file), Offset, Length);
}

std::int32_t CPortwellObject::QueueFileRange(std::int32_t SocketHandle, platform::UniqueFd file, std::int64_t Offset,
                                             std::int64_t Length) {
  CWinsocks& registry = *mobjWinsocks;
  CWinsock* socket = registry.Find(std::to_string(SocketHandle));
  if (socket == nullptr) return 10038;
  try {
    if (socket->UseBufferToSend) {
      socket->QueueFile(std::move(file), Offset, Length, registry.ChunkSize());
      registry.pGetQueToSendTimerObj().EnableTimer();
    } else {
      socket->QueueFile(std::move(file), Offset, Length, socket->ChunkSize);
      socket->SendQueued(SendPath::Direct);
    }
  } catch (const std::exception& e) {
    // A handler of an event raised while sending failed; the range is queued.
    PWL_DEBUG(std::string("CPortwell::SendFile - ") + e.what());
  }
  return 0;
}

void CPortwellObject::SetLingerTime(const std::string& SocketHandle, std::int32_t Milliseconds) {
  Socket(SocketHandle).SetLingerTime(Milliseconds);
}

void CPortwellObject::SetNoUnicodeConversionOnRecv(const std::string& SocketHandle, bool Value) {
  Socket(SocketHandle).NoUnicodeConversionOnRecv = Value;
}

std::int32_t CPortwellObject::SetSockOption(const std::string& SocketHandle, PWL_SOCK_OPTION SockOption,
                                            bool ActiveStatus) {
  return Socket(SocketHandle).SetSockOption(SockOption, ActiveStatus);
}

void CPortwellObject::SetReceivePaused(const std::string& SocketHandle, bool Paused) {
  Socket(SocketHandle).SetReceivePaused(Paused);
}

}  // namespace portwell

namespace portwell {

std::int32_t CPortwellObject::SetSockOptionValue(const std::string& SocketHandle, PWL_SOCK_OPTION SockOption,
                                                 std::int32_t Value) {
  return Socket(SocketHandle).SetSockOptionValue(SockOption, Value);
}

std::int64_t CPortwellObject::ReceivedBytesWaiting(const std::string& SocketHandle) const {
  CWinsock& socket = Socket(SocketHandle);
  int waiting = 0;
  // Under TLS what the library holds waits too (records fed to it and
  // plaintext not delivered yet), though the system no longer has it.
  const std::int64_t held = socket.TlsBufferedInput();
  if (socket.Fd() < 0 || socket.Protocol() != PWL_TCPIP || ::ioctl(socket.Fd(), FIONREAD, &waiting) != 0) return held;
  return waiting + held;
}

std::int64_t CPortwellObject::SentBytesWaiting(const std::string& SocketHandle) const {
  CWinsock& socket = Socket(SocketHandle);
  int waiting = 0;
  if (socket.Fd() < 0 || socket.Protocol() != PWL_TCPIP || ::ioctl(socket.Fd(), SIOCOUTQ, &waiting) != 0) return 0;
  return waiting;
}

std::int64_t CPortwellObject::QueSendBytes(const std::string& SocketHandle) const {
  return Socket(SocketHandle).QueSendBytes();
}

std::int32_t CPortwellObject::QueReceiveCount(const std::string& SocketHandle) const {
  return Socket(SocketHandle).QueReceiveCount();
}

}  // namespace portwell

namespace portwell {

std::string CPortwellObject::SetTlsCredentials(const std::string& CertificateFile, const std::string& KeyFile) {
  std::string reason;
  TlsContext context = LoadTlsContext(CertificateFile, KeyFile, reason);
  if (!context) {
    PWL_DEBUG("CPortwell::SetTlsCredentials - " + reason + (tlsContext_ ? " (the credentials before stay)" : ""));
    return reason;
  }
  // Connections that use the old context hold their own reference to it.
  tlsContext_ = std::move(context);
  PWL_DEBUG("CPortwell::SetTlsCredentials - credentials in force: " + CertificateFile);
  return "";
}

void CPortwellObject::ClearTlsCredentials() { tlsContext_.reset(); }

bool CPortwellObject::TlsAvailable() const { return tlsContext_ != nullptr; }

std::int32_t CPortwellObject::StartTls(const std::string& SocketHandle, std::int32_t ResumeOf,
                                       const PortwellData& ClearText, std::int32_t TimeoutMs) {
  if (!isActive_ || !mobjWinsocks) return 1000;
  CWinsock* socket = mobjWinsocks->Find(SocketHandle);
  if (socket == nullptr) return 10038;
  if (const std::int32_t refused = socket->TlsStartable(); refused != 0) return refused;
  if (!tlsContext_) return 10093;
  SSL_CTX* context = tlsContext_.get();
  std::optional<TlsToken> expected;
  if (ResumeOf != 0) {
    const CWinsock* control = mobjWinsocks->FindHandle(ResumeOf);
    if (control == nullptr || control == socket || control->TlsState() != PWL_TLS_ESTABLISHED) return 10022;
    // The control connection's context: its ticket keys and cache know the
    // session, also after the credentials were renewed.
    expected = control->Tls()->SessionToken();
    context = control->Tls()->Context();
  }
  std::string reason;
  std::unique_ptr<TlsLayer> layer = TlsLayer::Create(context, expected, reason);
  if (!layer) {
    PWL_DEBUG("CPortwell::StartTls - " + reason);
    return 10055;
  }
  layer->controlHandle = ResumeOf;
  try {
    socket->StartTls(std::move(layer), ClearText, TimeoutMs);
  } catch (const std::exception& e) {
    // A handler of an event raised while sending failed; TLS has started.
    PWL_DEBUG(std::string("CPortwell::StartTls - ") + e.what());
  }
  return 0;
}

}  // namespace portwell
