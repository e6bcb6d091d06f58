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
#include "portwell/resolver.h"
#include "portwell/timer.h"
#include "portwell/tls_layer.h"
#include "platform/fd.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
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
  // Accepted connections: the listener that accepted it (0 otherwise).
  std::int32_t ListenerHandle = 0;
  // 4 or 6: the family of the socket's addresses (datagram sockets: 4).
  std::int32_t AddressFamily = 4;

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
  // Drops what waits to go, with the ciphertext of it under TLS.
  void QueSendClear();
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
  // A stream listener on one address literal of either family ("::" and
  // "0.0.0.0" are every address of the family); LastSockErr 10049 for text
  // that is no literal, 10022 for a port out of range.
  std::int32_t ListenOn(std::int32_t port, const std::string& address, std::int32_t backLog);
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
  // Something was read from the system on this socket.
  void NoteReceived() { receivedAny_ = true; }

  // ---- TLS (CPortwell::StartTls) ----
  // A connected stream socket without TLS: 0, or 10045 / 10022.
  std::int32_t TlsStartable() const;
  // Starts TLS in the order StartTls documents; events may run (the caller
  // checks the lifeline).
  void StartTls(std::unique_ptr<TlsLayer> layer, const PortwellData& clearText, std::int32_t timeoutMs);
  TlsLayer* Tls() const { return tls_.get(); }
  PWL_TLS_STATE TlsState() const;
  // Received bytes TLS holds that have not been delivered (fed records and
  // decrypted plaintext).
  std::int64_t TlsBufferedInput() const { return tls_ ? tls_->BufferedInput() : 0; }
  // A TLS protocol failure ended the connection (it is closed as a failed
  // send would be).
  bool TlsBroken() const { return tlsBroken_; }
  // Reads through TLS: what the library holds first, then up to maxReads
  // reads of the system (0: until it has nothing more).
  DrainEnd TlsReceive(const char* who, int maxReads, int* error);
  // Delivers what the library holds, reading nothing.
  DrainEnd TlsDeliverBuffered(const char* who, int* error);
  // The connection ended (`failed`: with an error) while TLS had not been
  // established: TlsFailed. False when a handler removed the socket.
  bool TlsEndedEarly(bool failed);
  // The peer's end was reported (PWL_CLOSING) for this TLS socket: its
  // close_notify and a later FIN are one end.
  bool PeerEndReported() const { return peerEndReported_; }
  void MarkPeerEndReported() { peerEndReported_ = true; }

 private:
  // Before the socket goes: what the system still holds when the peer has
  // closed, then the receive queue. False when a handler removed it.
  bool DeliverRemaining();
  // Binds (and for streams listens) at `address`; nullptr fails with
  // `refusal` as the error number.
  std::int32_t ListenAt(const SocketAddress* address, int refusal, std::int32_t port, int socketType,
                        std::int32_t backLog);
  bool PeerClosed() const;
  // Unpauses, then reports what the pause held back.
  void Resume();
  SendOutcome SendStream(SendPath path, std::int64_t budget);
  SendOutcome SendDatagrams(SendPath path, std::int64_t budget);
  // The TLS round: ciphertext waiting first, then (payload) the queue's next
  // pieces, each counted as sent once its ciphertext has all gone; the
  // close_notify and the shutdown of a graceful close.
  SendOutcome SendTls(SendPath path, bool payload);
  // Encrypts the head of the queue, at most one bounded piece. False when
  // the piece could not be made (the send failed; events were raised).
  bool EncryptNextPiece(SendOutcome* failed);
  void BeginHandshake();
  // Runs the handshake on the input fed; false when a handler removed the
  // socket.
  bool AdvanceHandshake();
  bool FailTls(const std::string& reason, bool keepOutput);
  void OnTlsTimeout();
  DrainEnd DeliverDecrypted(const std::string& who, int* error);
  void DiscardWaitingInput();
  // Completion rule for the requests the system finished; false when an
  // event handler removed the socket.
  bool Complete(const std::vector<CompletionRun>& runs);
  bool CompleteDue();
  SendOutcome SendFailed(int error);
  SendOutcome SendRefused(SendPath path);
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
  bool receivedAny_ = false;      // something was read from the system
  std::unique_ptr<TlsLayer> tls_;
  std::unique_ptr<CTimer> tlsTimer_;  // bounds the handshake
  bool tlsBroken_ = false;
  bool tlsEndPosted_ = false;     // the peer's close_notify was turned into a close
  bool peerEndReported_ = false;
  Lifeline life_;
};

}  // namespace portwell
