// CWinsock: one socket of a registry (a listener, a bound datagram socket, an
// outgoing or an accepted connection). It owns the descriptor and both
// queues, does the sending (direct, on write readiness and from the send
// tick) and the graceful close with its linger timer.
//
// Any event this object raises may end in the client removing the socket (or
// the whole component). Code after an event therefore checks the object's
// lifeline before it touches a member again.
#pragma once

#include "portwell/portwell.h"
#include "portwell/queues.h"
#include "portwell/timer.h"
#include "platform/fd.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace portwell {

class CWinsocks;

// A weak handle on an object's life: expired once the object is destroyed.
class Lifeline {
 public:
  std::weak_ptr<char> Watch() const { return token_; }

 private:
  std::shared_ptr<char> token_ = std::make_shared<char>(0);
};

// Which send loop runs: their debug texts differ.
enum class SendPath { Direct, WriteReady, Tick };

// How a read of what the system holds ended.
enum class DrainEnd {
  WouldBlock,   // nothing more waits now
  EndOfStream,  // the peer's close was reached
  Failed,       // the connection failed (error given)
  Limit,        // the number of reads allowed was reached
  Detached,     // the registry no longer holds the socket: not delivered
  Destroyed,    // an event handler removed the socket
};

// How a round of sending ended.
enum class SendOutcome {
  Idle,       // nothing queued
  Done,       // the requests of the round were sent
  Blocked,    // the system takes no more now ("buffers full")
  Failed,     // the socket failed; error events were raised
  Destroyed,  // an event handler removed the socket
};

class CWinsock {
 public:
  CWinsock();
  ~CWinsock();
  CWinsock(const CWinsock&) = delete;
  CWinsock& operator=(const CWinsock&) = delete;

  // ---- fields of the socket object ----
  std::string LastRemoteHostUDP;
  std::string LastRemotePortUDP;
  std::string RemoteHostIP;
  std::int32_t RemotePort = 0;
  std::int32_t LocalPort = 0;
  std::int32_t SocketHandle = 0;
  std::int32_t ChunkSize = 4096;
  bool UseBufferToSend = false;
  bool UseBufferToReceive = false;
  bool NoUnicodeConversionOnRecv = false;

  void RegisterCWinsocks(CWinsocks* registry);
  void UnRegisterCWinsocks();
  CWinsocks* Registry() const { return registry_; }

  std::string LocalIP();
  PWL_PROTOCOL Protocol() const { return protocol_; }
  void SetProtocol(PWL_PROTOCOL value);
  std::int32_t LingerTime() const { return lingerTime_; }
  void SetLingerTime(std::int32_t milliseconds);
  std::int32_t BytesSent() const { return bytesSent_; }
  void SetBytesSent(std::int32_t value) { bytesSent_ = value; }
  std::int32_t NotifyOnEmptyBytesToSend() const { return notifyBytes_; }
  void SetNotifyOnEmptyBytesToSend(std::int32_t value) { notifyBytes_ = value; }
  const std::string& NotifyOnEmptySendQueID() const { return notifyId_; }
  void SetNotifyOnEmptySendQueID(const std::string& value) { notifyId_ = value; }
  std::string RemoteHostName() const;
  PWL_SOCK_STATE State() const { return state_; }
  // Every assignment raises ConnectionStatus while attached to a registry.
  void SetState(PWL_SOCK_STATE value);
  std::int32_t QueSendCount() const;
  std::int32_t QueReceiveCount() const { return receiveQueue_.Count(); }
  // Bytes not taken by the system yet, plus requests it took whose
  // completion is still to be counted (only while EmptySendQue handlers
  // run): what arming the notification with it must wait for.
  std::int64_t QueSendBytes() const;
  void QueSendClear() { sendQueue_.Clear(); }
  void QueReceiveClear() { receiveQueue_.Clear(); }
  bool CloseSockWithLinger();
  std::int32_t SetSockOption(PWL_SOCK_OPTION option, bool activeStatus);
  // One setsockopt with a number, no read-back; 0 or -1.
  std::int32_t SetSockOptionValue(PWL_SOCK_OPTION option, std::int32_t value);
  void CloseSock();
  // A linger with no wait was set (outgoing connections, or the client):
  // a graceful close must undo it.
  void MarkLingerSet() { lingerSet_ = true; }
  // The client corked the socket (or the listener it came from).
  bool CorkedByClient() const { return corkedByClient_; }
  void SetCorkedByClient(bool corked) { corkedByClient_ = corked; }

  // ---- used by the registry and the queue ticks ----
  // Takes ownership of an open descriptor.
  void Adopt(platform::UniqueFd fd);
  int Fd() const { return fd_.get(); }
  std::int32_t Listen(std::int32_t port, int socketType, std::int32_t adapterNumber, std::int32_t backLog);
  void SendDataWhenReady(const PortwellData& data, const std::string& remoteHostUDP, std::int32_t remotePortUDP);
  // Queues a file range (the direct or the buffered way, as SendData does).
  void QueueFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length, std::int32_t chunkSize);
  // Write readiness: the system takes data again.
  SendOutcome SendAllDataForConnection();
  SendOutcome SendQueued(SendPath path);
  CQueSendRequests& SendQueue() { return sendQueue_; }
  CQueReceiveRequests& ReceiveQueue() { return receiveQueue_; }
  std::weak_ptr<char> Life() const { return life_.Watch(); }
  bool Added() const { return added_; }
  void MarkAdded() { added_ = true; }

  // Non-blocking connect in progress (bounded by a time-out).
  bool Connecting() const { return connecting_; }
  void StartConnecting(std::int32_t timeoutMs);
  void StopConnecting();
  bool WriteBlocked() const { return writeBlocked_; }

  // ---- receiving and the end of a connection ----
  // Flow control (CPortwell::SetReceivePaused); ignored once a graceful
  // close has begun.
  void SetReceivePaused(bool paused);
  bool ReceivePaused() const { return receivePaused_; }
  // The peer's clean close, held while paused; unpausing reports it.
  void DeferClose() { closeDeferred_ = true; }
  // Lifts a pause without reporting a held close (the connection failed).
  void EndPause();
  // An Error was raised for this socket: the connection is over, and is not
  // reported again (nor as the peer's clean close).
  bool Failed() const { return failed_; }
  void MarkFailed() { failed_ = true; }
  bool LingerCloseStarted() const { return lingerCloseStarted_; }
  // Reads what the system holds and delivers it as read notifications do;
  // at most maxReads blocks (0: no limit, for a peer that has closed). `who`
  // names the caller in the debug log; `error` receives a failure's number.
  DrainEnd DrainInput(const char* who, int maxReads, int* error);
  // Offers the receive queue's blocks in order. Not final: stops at a
  // declined block (it stays queued) or when a handler pauses the socket.
  // Final (the socket is ending): every block is offered once, a declined
  // one is dropped. False when a handler removed the socket.
  bool DeliverQueued(bool final);

 private:
  // Before the socket goes: what the system still holds when the peer has
  // closed, then the receive queue. False when a handler removed it.
  bool DeliverRemaining();
  bool PeerClosed() const;
  // Unpauses, then reports what the pause held back.
  void Resume();
  SendOutcome SendStream(SendPath path, std::int64_t budget);
  SendOutcome SendDatagrams(SendPath path, std::int64_t budget);
  // Completion rule for the requests the system finished; false when an
  // event handler removed the socket.
  bool Complete(const std::vector<CompletionRun>& runs);
  bool CompleteDue();
  SendOutcome SendFailed(int error);
  void LogSent(SendPath path, std::int64_t count) const;
  void LogPartial(SendPath path, std::int64_t count, std::int64_t length) const;
  void LogBlocked(SendPath path) const;
  void OnLingerTick();
  void OnConnectTimeout();
  void ShutdownSending();
  void Uncork();

  CWinsocks* registry_ = nullptr;
  platform::UniqueFd fd_;
  PWL_PROTOCOL protocol_ = PWL_TCPIP;
  std::int32_t lingerTime_ = 1000;
  std::int32_t bytesSent_ = 0;
  std::int32_t notifyBytes_ = 0;
  std::string notifyId_;
  PWL_SOCK_STATE state_ = PWL_CLOSED;
  std::string localIp_;
  bool localIpKnown_ = false;
  bool added_ = false;
  bool connecting_ = false;
  bool writeBlocked_ = false;
  bool shutdownPending_ = false;  // close requested while data was still queued
  bool lingerCloseStarted_ = false;  // a graceful close has shut the socket down
  bool writeShut_ = false;        // nothing left to shut down (sending side shut, or a listener)
  bool completing_ = false;       // the completion rule is running
  bool receivePaused_ = false;    // flow control: nothing is read or delivered
  bool closeDeferred_ = false;    // the peer's clean close came while paused
  bool failed_ = false;           // Error was raised: the connection is over
  bool lingerSet_ = false;        // SO_LINGER was changed from the system's default
  bool corkedByClient_ = false;   // TCP_CORK set by the client: ranges need no cork of their own
  // Bytes of the corked file range still to go: a large range is sent in
  // full segments, and the cork comes off when its last byte is handed over.
  std::int64_t corkLeft_ = 0;
  std::deque<CompletionRun> pendingRuns_;
  CQueSendRequests sendQueue_;
  CQueReceiveRequests receiveQueue_;
  std::unique_ptr<CTimer> mobjLingerTimer;
  std::unique_ptr<CTimer> connectTimer_;
  Lifeline life_;
};

}  // namespace portwell
