// CWinsocks: the socket registry of one CPortwell. It owns the message target
// on which socket notifications arrive, the sockets (in insertion order, keyed
// by the decimal text of their handle), the two queue timers and the
// counters, and turns notifications into the client's events.
#pragma once

#include "portwell/portwell.h"
#include "portwell/resolver.h"
#include "portwell/timer.h"
#include "portwell/winsock.h"
#include "platform/event_loop.h"

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace portwell {

class CWinsocks {
 public:
  CWinsocks();
  ~CWinsocks();
  CWinsocks(const CWinsocks&) = delete;
  CWinsocks& operator=(const CWinsocks&) = delete;

  // ---- message target ----
  platform::TargetHandle WndCreate();
  bool WndDestroy();
  platform::TargetHandle HwndMsgs() const { return hwndMsgs_; }

  // ---- event sink ----
  void RegisterPortwell(IPortwellEvents** sink) { sink_ = sink; }
  void UnRegisterPortwell() { sink_ = nullptr; }

  // ---- services ----
  bool StartWinsockServices();
  bool StopWinsockServices();
  bool Started() const { return started_; }

  // ---- sockets ----
  std::int32_t Connect(const std::string& host, std::int32_t port, PWL_PROTOCOL streamType, std::int32_t adapterNumber);
  std::int32_t ConnectAsync(const std::string& host, std::int32_t port, PWL_PROTOCOL streamType,
                            std::int32_t adapterNumber, std::int32_t timeoutMs);
  std::int32_t AddListener(std::int32_t port, PWL_PROTOCOL protocol, std::int32_t adapterNumber, std::int32_t backLog);
  // A stream listener bound to one address literal (either family).
  std::int32_t AddListenerOn(std::int32_t port, const std::string& address, std::int32_t backLog);
  // `peer` is the address accept reported (nullptr or empty: ask the system).
  bool AcceptConnection(std::int32_t listener, platform::UniqueFd accepted, const SocketAddress* peer = nullptr);
  // Graceful close; std::out_of_range for a key that is not registered.
  std::int32_t CloseSock(const std::string& key);
  std::int32_t CloseSockDown(const std::string& key);
  std::int32_t SetSockLinger(int fd, bool on, std::int32_t seconds);

  // ---- collection ----
  bool ItemExists(const std::string& key) const { return Find(key) != nullptr; }
  // Linear search comparing each socket's SocketHandle with the text.
  bool Exists(const std::string& handleText) const;
  CWinsock* Find(const std::string& key) const;
  CWinsock* FindHandle(std::int32_t handle) const;
  // Lookups that fail with std::out_of_range.
  CWinsock& Item(const std::string& key) const;
  CWinsock& ItemByIndex(std::int32_t index) const;
  void Add(std::unique_ptr<CWinsock> socket, const std::string& key);
  void DeleteByKey(const std::string& key);
  void DeleteByIndex(std::int32_t index);
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  std::string TotalConnections() const { return std::to_string(Count()); }
  void Clear();

  // ---- events ----
  void RaiseEventConnectionStatus(std::int32_t handle, PWL_SOCK_STATE state);
  void RaiseEventError(std::int32_t handle, std::int32_t number);
  void RaiseEventEmptySendQue(std::int32_t handle, std::string eventId);
  void RaiseEventConnectionRequest(std::int32_t handle, bool& accept);
  void RaiseEventConnectionEstablished(std::int32_t handle);
  void RaiseEventConnectionTerminated(std::int32_t handle);
  void RaiseEventTlsEstablished(std::int32_t handle, bool resumed);
  void RaiseEventTlsFailed(std::int32_t handle, const std::string& reason);
  SendOutcome RaiseEventSendAllDataForConnection(const std::string& key);
  // Delivery of one received block (directly, or from the receive queue
  // when fromQueue); returns Retrieved.
  bool RaiseEventDataArrival(CWinsock& socket, PortwellData& block, bool fromQueue, const std::string& senderHost,
                             std::int32_t senderPort);

  // Deactivation: offers the queued blocks of every socket that is not
  // paused (nothing is read from the system).
  void DeliverQueuedBeforeStop();

  CTimer& pGetQueToReceiveTimerObj() { return *mobjQueReceiveTimer; }
  CTimer& pGetQueToSendTimerObj() { return *mobjQueToSendTimer; }

  // ---- notifications ----
  void OnSocketMessage(std::int32_t socket, std::uint32_t event, std::uint32_t error);

  // ---- state ----
  std::int32_t TakeLastSockErr() { return std::exchange(lastSockErr_, 0); }
  void SetLastSockErr(std::int32_t number) { lastSockErr_ = number; }
  std::int32_t ChunkSize() const { return chunkSize_; }
  void SetChunkSize(std::int32_t value) {
    if (value >= 1) chunkSize_ = value;
  }
  std::string LocalHostIPAt(std::int32_t index) const;
  std::weak_ptr<char> Life() const { return life_.Watch(); }

  std::int32_t RequestsReceived = 0;
  std::int32_t RequestsProcessed = 0;
  std::int32_t RequestsToSendReceived = 0;
  std::int32_t RequestsToSendProcessed = 0;

  std::string SocketInfoMaxSockets;
  std::string SocketInfoMaxUdpDg;
  std::string SocketInfoDescription;
  std::string SocketInfoSystemStatus;
  std::string SocketInfoHighVersion;
  std::string SocketInfoVersion;
  std::string SocketInfoVendorInfo;
  std::string LocalHostName;
  std::vector<std::string> Aliases;
  std::vector<std::string> LocalHostIP;
  std::vector<std::string> LocalHostIP6;

 private:
  std::int32_t AddListening(PWL_PROTOCOL protocol, const std::function<std::int32_t(CWinsock&)>& listen);
  void OnRead(CWinsock& socket);
  // A read notification on a socket that has started TLS.
  void OnTlsRead(CWinsock& socket);
  void OnAccept(CWinsock& listener);
  void OnConnect(CWinsock& socket, std::uint32_t error);
  void FailAndClose(CWinsock& socket, const std::string& what, std::uint32_t error, bool stateFirst);
  // The close notification: the peer's clean close, or (error) a failure.
  void OnClose(CWinsock& socket, std::uint32_t error);
  // A connection that failed: what was received goes first, then Error and
  // PWL_ERROR (once per connection). The close is the caller's.
  void FailConnection(CWinsock& socket, std::int32_t number);
  void QueReceiveTick();
  void QueToSendTick();
  // Where a connection goes; nullopt (LastSockErr set) when it cannot.
  std::optional<SocketAddress> ConnectTarget(const std::string& host, std::int32_t port, std::int32_t adapterNumber,
                                             PWL_PROTOCOL streamType);

  IPortwellEvents** sink_ = nullptr;
  platform::TargetHandle hwndMsgs_ = 0;
  bool started_ = false;
  std::int32_t lastSockErr_ = 0;
  std::int32_t chunkSize_ = 4096;
  std::vector<std::unique_ptr<CWinsock>> items_;
  std::unordered_map<std::int32_t, CWinsock*> byKey_;
  std::unique_ptr<CTimer> mobjQueReceiveTimer;
  std::unique_ptr<CTimer> mobjQueToSendTimer;
  bool receiveBusy_ = false;
  bool sendBusy_ = false;
  Lifeline life_;
};

// Strict key form: the decimal text of a handle ("" when not a key).
std::optional<std::int32_t> ParseKey(const std::string& key);

// The module's window procedure: routes notification message 1013 to the
// registry that owns the target.
void WindowProc(platform::TargetHandle window, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);
// Empties and drops the module-wide WindowTable.
void DropWindowTable();

}  // namespace portwell
