// Portwell: asynchronous TCP and UDP sockets as one event-driven object, with
// no threads of its own. This header is the whole contract between the
// component (libportwell.so) and its client.
//
// Threading: everything runs on the thread that drives the process's event
// loop (platform::EventLoop::Instance()). Events are raised synchronously from
// socket notifications, from the component's timers, or from inside a member
// call; a handler may call back into the component, including closing the
// socket it is handling or pumping messages.
//
// Errors: socket-level failures are values (-1 results, LastSockErr, the Error
// event, the PWL_ERROR state). Only Activate, SendData, CloseSock and the two
// ProcessingInterval setters throw, and only PortwellError. Members that look a
// socket up by handle throw std::out_of_range for a handle that is not
// registered (test with ItemExists first).
//
// Creation: the library exports a factory by class name ("Portwell.CPortwell");
// LoadPortwell below wraps dlopen and the factory for the program.
#pragma once

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#define PORTWELL_API __attribute__((visibility("default")))

// ---- enumerations -----------------------------------------------------------

enum PWL_SOCK_STATE : std::int32_t {
  PWL_CLOSED = 0,
  PWL_OPEN = 1,
  PWL_LISTENING = 2,
  PWL_ACCEPTED_CONNECTION = 3,
  PWL_RESOLVING_HOST = 4,
  PWL_RESOLVED_HOST = 5,
  PWL_CONNECTING = 6,
  PWL_CONNECTED = 7,
  PWL_CLOSING = 8,
  PWL_ERROR = 9,
  PWL_REJECTED_CONNECTION = 10,
};

enum PWL_PROTOCOL : std::int32_t {
  PWL_TCPIP = 1,  // stream socket
  PWL_UDP = 2,    // datagram socket
};

enum PWL_SOCK_OPTION : std::int32_t {
  PWL_SO_DEBUG = 0,
  PWL_SO_ACCEPTCONN = 1,
  PWL_SO_REUSEADDR = 2,
  PWL_SO_KEEPALIVE = 3,
  PWL_SO_DONTROUTE = 4,
  PWL_SO_BROADCAST = 5,
  PWL_SO_USELOOPBACK = 6,
  PWL_SO_LINGER = 7,
  PWL_SO_OOBINLINE = 8,
  PWL_SO_DONTLINGER = 9,
  PWL_TCP_NODELAY = 10,
  PWL_OPTIONAL_SO_SNDBUF = 11,
  PWL_OPTIONAL_SO_RCVBUF = 12,
  PWL_OPTIONAL_SO_SNDLOWAT = 13,
  PWL_OPTIONAL_SO_RCVLOWAT = 14,
  PWL_OPTIONAL_SO_SNDTIMEO = 15,
  PWL_OPTIONAL_SO_RCVTIMEO = 16,
  PWL_OPTIONAL_SO_ERROR = 17,
  PWL_OPTIONAL_SO_TYPE = 18,
  // Addition: TCP_CORK (level TCP), for SetSockOptionValue. While it is on
  // only full segments leave; the sending side's shutdown takes the last
  // partial one, with the FIN in it.
  PWL_TCP_CORK = 19,
};

// ---- data -------------------------------------------------------------------

// The payload of SendData and DataArrival: either bytes or 16-bit text.
// Text on the wire is 8-bit: each byte is one code unit of the same value
// (ISO-8859-1), so widening and narrowing are lossless for all 256 bytes.
// Received blocks arrive as text (widened) unless the socket has
// NoUnicodeConversionOnRecv set, in which case they arrive as bytes.
class PortwellData {
 public:
  PortwellData() = default;
  PortwellData(std::string bytes) : bytes_(std::move(bytes)) {}  // NOLINT: implicit by design
  PortwellData(const char* bytes) : bytes_(bytes ? bytes : "") {}  // NOLINT
  PortwellData(std::u16string text) : text_(std::move(text)), isText_(true) {}  // NOLINT

  bool IsText() const { return isText_; }
  // Number of bytes, or of code units for text.
  std::size_t Size() const { return isText_ ? text_.size() : bytes_.size(); }
  bool Empty() const { return Size() == 0; }

  // The stored form; Bytes() is empty for text and Text() for bytes.
  const std::string& Bytes() const { return bytes_; }
  const std::u16string& Text() const { return text_; }
  std::string& MutableBytes() { return bytes_; }
  std::u16string& MutableText() { return text_; }

  // The 8-bit form whatever is stored (text is narrowed; a code unit above
  // 0xFF, which the 8-bit code page cannot hold, becomes '?').
  std::string ToBytes() const {
    if (!isText_) return bytes_;
    std::string out(text_.size(), '\0');
    for (std::size_t i = 0; i < text_.size(); ++i) out[i] = NarrowUnit(text_[i]);
    return out;
  }
  // The 16-bit form whatever is stored (bytes are widened).
  std::u16string ToText() const {
    if (isText_) return text_;
    std::u16string out(bytes_.size(), u'\0');
    for (std::size_t i = 0; i < bytes_.size(); ++i) out[i] = static_cast<unsigned char>(bytes_[i]);
    return out;
  }

  static char NarrowUnit(char16_t unit) { return unit <= 0xFF ? static_cast<char>(unit) : '?'; }

 private:
  std::string bytes_;
  std::u16string text_;
  bool isText_ = false;
};

// ---- the component error ----------------------------------------------------

// Number = 0x80040000 + the inner number; Source is always "Portwell".
// Thrown only by Activate, SendData, CloseSock and the ProcessingInterval
// setters. Defined inline with default visibility so that it can be caught on
// either side of the dlopen boundary.
class PORTWELL_API PortwellError : public std::runtime_error {
 public:
  static constexpr std::uint32_t kBase = 0x80040000u;

  PortwellError(std::int32_t innerNumber, const std::string& description)
      : std::runtime_error(description),
        Number(static_cast<std::int32_t>(kBase + static_cast<std::uint32_t>(innerNumber))),
        Source("Portwell"),
        Description(description) {}

  std::int32_t Number;      // e.g. 0x800403E8 (-2147220504) for 1000
  std::string Source;       // "Portwell"
  std::string Description;  // e.g. "No active connections"
};

// ---- address texts (inline: no lookup, no system state) ----------------------
//
// A literal is a dotted IPv4 address (strictly four decimal parts) or an
// IPv6 address, which may stand in brackets ("[::1]") and carry a zone
// ("fe80::1%eth0"). These are the texts Connect, ConnectAsync and
// AddListenerOn take as addresses.

// The form the component reports an address literal in: dotted IPv4; IPv6
// in the system's short form (lower case, longest zero run as "::"), the
// zone as written, no brackets; an IPv4-mapped IPv6 address (::ffff:a.b.c.d)
// as its IPv4 text. "" for text that is no literal (names included). Two
// literals name the same address when their forms are equal (e.g. a
// client's EPRT address against RemoteHostIP).
inline std::string PortwellCanonicalAddress(const std::string& Text) {
  char out[INET6_ADDRSTRLEN] = {};
  in_addr v4{};
  if (::inet_pton(AF_INET, Text.c_str(), &v4) == 1) {
    return ::inet_ntop(AF_INET, &v4, out, sizeof out) != nullptr ? std::string(out) : std::string();
  }
  std::string literal = Text;
  if (literal.size() >= 2 && literal.front() == '[' && literal.back() == ']') {
    literal = literal.substr(1, literal.size() - 2);
  }
  std::string zone;
  if (const auto percent = literal.find('%'); percent != std::string::npos) {
    zone = literal.substr(percent);
    literal.resize(percent);
    if (zone.size() < 2) return {};
  }
  in6_addr v6{};
  if (literal.empty() || ::inet_pton(AF_INET6, literal.c_str(), &v6) != 1) return {};
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
    return ::inet_ntop(AF_INET, &v4, out, sizeof out) != nullptr ? std::string(out) : std::string();
  }
  if (::inet_ntop(AF_INET6, &v6, out, sizeof out) == nullptr) return {};
  return out + zone;
}

// True when Text is an IPv6 literal of an IPv6 host: false for IPv4 text,
// for IPv4-mapped IPv6 text (the component reports those as IPv4), for names
// and for anything else. For the component's own texts it is true exactly
// when the socket's AddressFamily is 6.
inline bool PortwellIsIPv6(const std::string& Text) {
  return PortwellCanonicalAddress(Text).find(':') != std::string::npos;
}

// An address with the port that follows it, as logs and messages write it:
// "[addr]:port" for IPv6, "a.b.c.d:port" for IPv4 (a literal in its
// canonical form; other text, e.g. a name, as given).
inline std::string PortwellEndpointText(const std::string& Address, std::int32_t Port) {
  const std::string canonical = PortwellCanonicalAddress(Address);
  const std::string& address = canonical.empty() ? Address : canonical;
  const std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
  return host + ":" + std::to_string(Port);
}

// ---- socket information (read-only snapshot) ---------------------------------

// What ItemByKey / ItemByIndex report about one registered socket, taken at
// the moment of the call.
struct PortwellSocketInfo {
  std::string LastRemoteHostUDP;  // sender of the datagram being delivered
  std::string LastRemotePortUDP;  // its port, decimal text
  std::string RemoteHostIP;
  std::int32_t RemotePort = 0;    // accepted connections: the local (listening) port
  std::int32_t LocalPort = 0;     // accepted connections: the peer's port
  std::int32_t SocketHandle = 0;
  std::int32_t ChunkSize = 0;
  bool UseBufferToSend = false;
  bool UseBufferToReceive = false;
  bool NoUnicodeConversionOnRecv = false;
  std::string LocalIP;
  PWL_PROTOCOL Protocol = PWL_TCPIP;
  std::int32_t LingerTime = 1000;
  std::int32_t BytesSent = 0;
  std::int32_t NotifyOnEmptyBytesToSend = 0;
  std::string NotifyOnEmptySendQueID;
  PWL_SOCK_STATE State = PWL_CLOSED;
  std::int32_t QueSendCount = 0;     // queued send requests (chunks)
  std::int32_t QueReceiveCount = 0;  // queued received blocks
  // Bytes queued for sending that the system has not taken yet (file ranges
  // included): what a client bounds to keep a slow reader from growing the
  // queue without limit. While an EmptySendQue handler runs it also holds
  // the requests the system took meanwhile whose completion is counted after
  // the handler, so that NotifyOnEmptySendQue armed with it keeps its word.
  std::int64_t QueSendBytes = 0;
  bool ReceivePaused = false;  // see CPortwell::SetReceivePaused
  // Accepted connections: the handle of the listener that accepted it (0
  // for other sockets), so that a client with several listeners routes a
  // connection by the listener rather than by a port number.
  std::int32_t ListenerHandle = 0;
  // TLS on this socket (see CPortwell::StartTls): PWL_TLS_NONE, a
  // handshake in progress, or established, with the protocol's name
  // ("TLSv1.3") and whether the handshake resumed an earlier session.
  std::int32_t TlsState = 0;  // PWL_TLS_STATE
  std::string TlsVersion;
  bool TlsResumed = false;
  // The family of the socket's addresses: 4 or 6 (see CPortwell::
  // AddListenerOn). Datagram sockets are always 4.
  std::int32_t AddressFamily = 4;
};

enum PWL_TLS_STATE : std::int32_t {
  PWL_TLS_NONE = 0,
  PWL_TLS_HANDSHAKE = 1,
  PWL_TLS_ESTABLISHED = 2,
};

// ---- events -------------------------------------------------------------------
//
// How a connection ends, as the sink sees it (handle h):
//  - The peer's clean close (FIN): DataArrival for everything it sent (a
//    block the client declines is offered again before the end), then
//    ConnectionStatus(h, PWL_CLOSING); after LingerTime ms
//    ConnectionStatus(h, PWL_CLOSED), ConnectionTerminated(h),
//    ConnectionStatus(h, PWL_CLOSED). No Error.
//  - A reset by the peer (e.g. its close with SO_LINGER 0) or another
//    failure of the connection: Error(h, number) (10054 for a reset) and
//    ConnectionStatus(h, PWL_ERROR) come first; the blocks received before a
//    failure found while receiving are delivered before them. Then, when the
//    end reached us from the peer, PWL_CLOSING and the same close as above.
//    A failure found while sending, or of a connect, goes from PWL_ERROR
//    straight to the graceful close (PWL_CLOSING may still follow when the
//    peer's end is seen during the linger).
//  So PWL_CLOSING says the peer ended the connection, and an Error for h
//  raised before it says that end was a failure: at PWL_CLOSING the client
//  knows whether everything the peer sent has arrived. Error is raised at
//  most once per connection.
//  - No received data is thrown away at a close: before ConnectionTerminated
//    every block still in the socket's receive queue is offered through
//    DataArrival, in order (a block declined at that point is dropped), and
//    when the peer has closed, every byte the system still holds is read and
//    delivered first. This holds for the peer's close, for CloseSock with
//    linger and for failures. Only CloseSock with NoLinger drops received
//    data, and deactivation (see Activate).

// The client's event sink. Every handler has an empty default, so a client
// overrides only what it needs. By-reference arguments are the component's
// questions to the client: Retrieved (preset true; false keeps the block
// queued and offers it again later) and Accept (preset true; false rejects
// and closes the new connection). The client may move Data out when it keeps
// Retrieved true; a block it declines must be left as it was, since that
// same object is offered again.
class IPortwellEvents {
 public:
  virtual ~IPortwellEvents() = default;
  virtual void DataArrival(std::int32_t /*SocketHandle*/, PortwellData& /*Data*/, bool& /*Retrieved*/) {}
  virtual void ConnectionStatus(std::int32_t /*SocketHandle*/, PWL_SOCK_STATE /*SockState*/) {}
  virtual void ConnectionRequest(std::int32_t /*SocketHandle*/, bool& /*Accept*/) {}
  virtual void ConnectionEstablished(std::int32_t /*SocketHandle*/) {}
  virtual void ConnectionTerminated(std::int32_t /*SocketHandle*/) {}
  virtual void EmptySendQue(std::int32_t /*SocketHandle*/, const std::string& /*EventID*/) {}
  virtual void Error(std::int32_t /*SocketHandle*/, std::int32_t /*ErrorNum*/) {}
  // Additions (CPortwell::StartTls): the handshake on SocketHandle ended.
  // Every StartTls that returned 0 ends in exactly one of the two, unless
  // the client closes the socket first (CloseSock, Activate(false): no
  // event). Established: the socket now sends and receives through TLS;
  // Resumed says the handshake resumed a session (with ResumeOf, always the
  // one it was told to). Data queued during the handshake goes out right
  // after the handler. Failed: Reason says why: the library's reason (e.g.
  // "wrong version number"), "handshake timed out", "session reuse
  // required", or, when the connection ended before the handshake did,
  // "the peer closed the connection during the handshake" / "the connection
  // failed during the handshake" (raised before that end's Error and
  // PWL_CLOSING). After Failed nothing queued is sent (the queue is dropped;
  // only the library's alert may go) and nothing received is delivered;
  // TlsState is PWL_TLS_NONE and a new StartTls is refused (10022). The
  // client closes the socket (CloseSock) when it likes; the peer's end may
  // still be reported meanwhile as on any socket.
  virtual void TlsEstablished(std::int32_t /*SocketHandle*/, bool /*Resumed*/) {}
  virtual void TlsFailed(std::int32_t /*SocketHandle*/, const std::string& /*Reason*/) {}
};

// ---- the public class -------------------------------------------------------------

// Socket handles are the system's descriptor numbers: int32 in some members,
// their decimal text (the registry key) in others, as each signature says.
class CPortwell {
 public:
  static constexpr std::int32_t kBaseWndMsg = 1013;

  virtual ~CPortwell() = default;

  // Last socket error number; reading it resets it to 0.
  virtual std::int32_t LastSockErr() = 0;
  // Handle of the message target on which notifications arrive (0 = none).
  virtual std::int32_t hwnd() const = 0;
  // Always 1013.
  virtual std::int32_t BaseWndMsg() const = 0;
  // Snapshot of one registered socket; std::out_of_range when absent.
  virtual PortwellSocketInfo ItemByKey(const std::string& SocketHandle) const = 0;
  virtual PortwellSocketInfo ItemByIndex(std::int32_t Index) const = 0;  // 1-based
  virtual bool ItemExists(const std::string& SocketHandle) const = 0;
  // Arms EmptySendQue: fires with EventID each time another BytesToSend bytes
  // have been fully sent on the socket, counted from this call (BytesSent
  // restarts at 0). Arming with the snapshot's QueSendBytes fires once what
  // is queued now has gone (up to the part of one request the system had
  // already taken). EventID "" disarms.
  virtual void NotifyOnEmptySendQue(const std::string& SocketHandle, const std::string& EventID,
                                    std::int32_t BytesToSend) = 0;
  // Largest send request in bytes (default 4096); values below 1 are ignored.
  virtual std::int32_t ChunkSize() const = 0;
  virtual void SetChunkSize(std::int32_t Value) = 0;
  virtual bool IsActive() const = 0;
  // Starts or stops socket services; returns the new IsActive. Throws
  // PortwellError. Stopping removes every socket without events, after
  // offering the blocks already in the receive queues of sockets that are
  // not paused (nothing more is read from the system). Destroying the object
  // stops it without any event.
  virtual bool Activate(bool ActivationStatus) = 0;
  // Queues Data in ChunkSize requests and sends at once as far as the system
  // takes it (unless the socket uses buffered sending). Empty data sends one
  // byte of value 0. Throws PortwellError (0x800403E8 "No active connections"
  // before Activate(true)).
  virtual void SendData(std::int32_t SocketHandle, const PortwellData& Data, const std::string& RemoteHostUDP = "",
                        std::int32_t RemotePortUDP = 0) = 0;
  // Graceful close (shutdown, drain, LingerTime ms, then removal; returns 0)
  // or, with NoLinger, immediate removal (returns the handle; received data
  // not yet delivered is dropped). A graceful close ends a receive pause.
  // Returns 0 and does nothing when inactive or for a handle text that is
  // not a number > 0.
  // Throws PortwellError for a handle that is not registered.
  virtual std::int32_t CloseSock(const std::string& SocketHandle, bool NoLinger = false) = 0;
  // Blocking outgoing connection; raises ConnectionEstablished before it
  // returns the handle; -1 and LastSockErr on failure. See ConnectAsync.
  virtual std::int32_t Connect(const std::string& Host, std::int32_t Port, PWL_PROTOCOL StreamType = PWL_TCPIP,
                               std::int32_t AdapterNumber = 0) = 0;
  // Listening (TCP) or bound (UDP) IPv4 socket; AdapterNumber -1 = all IPv4 addresses,
  // otherwise an index into LocalHostIP. Returns the handle or -1.
  virtual std::int32_t AddListener(std::int32_t PortToListenOn, PWL_PROTOCOL Protocol = PWL_TCPIP,
                                   std::int32_t AdapterNumber = -1, std::int32_t BackLog = 5) = 0;
  // Counters; they wrap from 2147483647 to 0.
  virtual std::int32_t RequestsReceived() const = 0;
  virtual std::int32_t RequestsProcessed() const = 0;
  virtual std::int32_t RequestsToSendReceived() const = 0;
  virtual std::int32_t RequestsToSendProcessed() const = 0;
  virtual std::int32_t NumberOfConnections() const = 0;
  virtual std::vector<std::string> Aliases() const = 0;
  virtual std::string LocalHostName() const = 0;
  // Every IPv4 address of the host; adapter numbers index this list.
  virtual std::vector<std::string> LocalHostIP() const = 0;
  // One entry of that list, "" when Index is out of range.
  virtual std::string LocalHostIP(std::int32_t Index) const = 0;
  virtual std::int32_t LocalPort(std::int32_t SocketHandle) const = 0;
  virtual std::string SocketInfoMaxSockets() const = 0;
  virtual std::string SocketInfoDescription() const = 0;
  virtual std::string SocketInfoHighVersion() const = 0;
  virtual std::string SocketInfoMaxUdpDg() const = 0;
  virtual std::string SocketInfoSystemStatus() const = 0;
  virtual std::string SocketInfoVendorInfo() const = 0;
  virtual std::string SocketInfoVersion() const = 0;
  // Per socket: queued (timer-driven) instead of direct sending/receiving.
  // Putting true enables, putting false disables the shared queue timer.
  virtual bool UseBufferToSend(const std::string& SocketHandle) const = 0;
  virtual void SetUseBufferToSend(const std::string& SocketHandle, bool Value) = 0;
  virtual bool UseBufferToReceive(const std::string& SocketHandle) const = 0;
  virtual void SetUseBufferToReceive(const std::string& SocketHandle, bool Value) = 0;
  virtual std::string RemoteHostIP(const std::string& SocketHandle) const = 0;
  // Reverse lookup ("Unknown address" when none); may block on the resolver.
  virtual std::string RemoteHostName(const std::string& SocketHandle) const = 0;
  virtual std::int32_t RemotePort(const std::string& SocketHandle) const = 0;
  // Queue timer periods in ms (default 100); a running timer keeps its old
  // period until it is next started. Setters throw PortwellError.
  virtual std::int16_t ProcessingIntervalReceive() const = 0;
  virtual void SetProcessingIntervalReceive(std::int16_t Value) = 0;
  virtual std::int16_t ProcessingIntervalToSend() const = 0;
  virtual void SetProcessingIntervalToSend(std::int16_t Value) = 0;

  // ---- additions to the classic interface ----

  // The sink that receives the seven events (borrowed; nullptr detaches). A
  // deactivated object raises no events, whatever sink is set.
  virtual void SetEventSink(IPortwellEvents* Sink) = 0;

  // Sends Length bytes of the file at FilePath from Offset (Length < 0: to the
  // end of the file) without reading it into memory: the range is queued and
  // read (or handed to the kernel with sendfile) only when it reaches the head
  // of the queue. It counts as the same number of ChunkSize requests as
  // SendData of those bytes, so BytesSent, the counters and EmptySendQue
  // behave alike. An empty range sends nothing but completes one request.
  // Stream sockets only. Returns 0, or the inner error number: 1000 inactive,
  // 10038 unknown socket, 10045 datagram socket, 10022 bad range, or the
  // system's error for the file.
  virtual std::int32_t SendFile(std::int32_t SocketHandle, const std::string& FilePath, std::int64_t Offset,
                                std::int64_t Length) = 0;

  // The same for a file the client has open: the component takes the
  // descriptor (it closes it when the range is done or dropped, also on
  // failure) and sends from it without opening anything. Length < 0 sends
  // to the end of the file; other ranges are not checked against the size:
  // a file that ends before its range fails the send (an Error, as a failed
  // connection does). Returns 0 or the inner error number (1000, 10038,
  // 10045, 10022 for a negative offset or descriptor).
  virtual std::int32_t SendFileDescriptor(std::int32_t SocketHandle, int FileDescriptor, std::int64_t Offset,
                                          std::int64_t Length) = 0;

  // Non-blocking Connect: returns the new handle at once (or -1 and
  // LastSockErr for a failure known at once). When the attempt completes the
  // socket gets State PWL_CONNECTED and ConnectionEstablished is raised; on
  // failure or after TimeoutMs (10060) come Error, PWL_ERROR and the graceful
  // close (PWL_CLOSED, ConnectionTerminated, PWL_CLOSED). Data sent before
  // the connection completes is queued. Until then State is PWL_CONNECTING.
  virtual std::int32_t ConnectAsync(const std::string& Host, std::int32_t Port, PWL_PROTOCOL StreamType = PWL_TCPIP,
                                    std::int32_t AdapterNumber = 0, std::int32_t TimeoutMs = 30000) = 0;

  // Per-socket settings that the read-only socket snapshot cannot change.
  // LingerTime accepts 1..60000 ms and ignores other values.
  virtual void SetLingerTime(const std::string& SocketHandle, std::int32_t Milliseconds) = 0;
  virtual void SetNoUnicodeConversionOnRecv(const std::string& SocketHandle, bool Value) = 0;
  // Sets one option as a boolean; 0, or -1 when the system refuses.
  virtual std::int32_t SetSockOption(const std::string& SocketHandle, PWL_SOCK_OPTION SockOption,
                                     bool ActiveStatus) = 0;
  // Sets an option that takes a number (a size, a low-water mark; for
  // booleans 0 or 1) with one system call and no read-back: 0, or -1 when
  // the system refuses. Linux hands TCP_NODELAY, TCP_CORK and SO_RCVLOWAT
  // of a listener on to the connections it accepts. The linger options take
  // the value as the linger seconds. File ranges of more than 256 KiB go out
  // corked on their own (the cork comes off with their last byte) unless the
  // client corked the socket itself.
  virtual std::int32_t SetSockOptionValue(const std::string& SocketHandle, PWL_SOCK_OPTION SockOption,
                                          std::int32_t Value) = 0;
  // Bytes the system has received on a stream socket that have not been
  // read yet (one system call; 0 when unknown). With a receive low-water
  // mark set they can wait there while the peer trickles.
  virtual std::int64_t ReceivedBytesWaiting(const std::string& SocketHandle) const = 0;
  // Bytes handed to the system on a stream socket that the peer has not
  // acknowledged yet, sent or not (one system call; 0 when unknown). With a
  // large send buffer a slow reader takes bytes long before the system asks
  // for more: this count falls as it does.
  virtual std::int64_t SentBytesWaiting(const std::string& SocketHandle) const = 0;
  // Single fields of the snapshot, without taking a whole one.
  virtual std::int64_t QueSendBytes(const std::string& SocketHandle) const = 0;
  virtual std::int32_t QueReceiveCount(const std::string& SocketHandle) const = 0;

  // Stream sockets that receive raw bytes (NoUnicodeConversionOnRecv) are
  // read in blocks of up to this many bytes; other sockets in blocks of up
  // to 32767. A receive low-water mark of this size wakes the reader once
  // per full block.
  static constexpr std::int32_t kRawReceiveBlock = 512 << 10;

  // Flow control: while paused the component reads nothing from the socket
  // and delivers none of its queued blocks; what the peer sends stays in the
  // system, so TCP pushes back on the peer. Nothing runs for the socket
  // meanwhile (no reads, no timer). Unpausing reads and delivers what waits,
  // in order. The peer's clean close while paused is held and reported after
  // the data before it once reading resumes; a failure (reset) ends the pause
  // at once: the queued blocks are delivered, then Error and the close run as
  // always. A graceful CloseSock ends the pause; once a graceful close has
  // begun the call is ignored. Sending is not affected. Server pattern: after
  // a reply, if QueSendBytes > mark, pause and arm NotifyOnEmptySendQue(key,
  // id, QueSendBytes); unpause on that EmptySendQue.
  // std::out_of_range for a handle that is not registered.
  virtual void SetReceivePaused(const std::string& SocketHandle, bool Paused) = 0;

  // ---- TLS (server side), an addition ----
  //
  // One set of credentials serves every socket of the object: a PEM
  // certificate file (the server's certificate first, then its chain) and a
  // PEM private key file. TLS 1.2 or later, the library's default ciphers,
  // no compression, no renegotiation.
  //
  // Loads and checks the credentials (readable, key matches certificate,
  // certificate not expired nor not yet valid). Returns "" when they are in
  // force, otherwise the reason; a failed load keeps whatever was in force
  // before (a renewal that fails drops no session and no TLS). Connections
  // that are already encrypted keep their session; new handshakes use the
  // new credentials.
  virtual std::string SetTlsCredentials(const std::string& CertificateFile, const std::string& KeyFile) = 0;
  // Removes the credentials: no new handshake can start.
  virtual void ClearTlsCredentials() = 0;
  virtual bool TlsAvailable() const = 0;
  // Starts the server side of TLS on a connected (or accepted) stream
  // socket, in this order and within this one call: what the peer sent that
  // has not been delivered yet is discarded, both the receive queue and what
  // the system holds (bytes a client pipelined in clear can never be read
  // as if they came through TLS; on a connection nothing has been read from
  // yet, what waits can only be the client's first handshake bytes and is
  // kept, so call it on an accepted connection before any data arrival, e.g.
  // from ConnectionRequest or PWL_ACCEPTED_CONNECTION); ClearText (e.g. the reply that agrees to
  // TLS; may be empty) is queued in clear behind whatever was queued
  // before; then, once those bytes have gone, everything sent is encrypted
  // and everything received is decrypted. Data queued while the handshake
  // runs waits and goes out encrypted once it is done; none is sent in
  // clear. The handshake never blocks; TimeoutMs (0: none) bounds it.
  // ResumeOf: 0, or the handle of an established TLS socket of this object
  // whose session the handshake must resume; a handshake that resumes
  // another session, or none, fails ("session reuse required"). Both TLS
  // 1.2 and 1.3 resumption count, checked against the session itself, not
  // merely the fact of a resumption. The peer's close_notify ends the
  // stream as a FIN does (and is answered with ours); a graceful close
  // sends close_notify before the FIN. Received blocks, EmptySendQue,
  // QueSendBytes, pauses and the close rules work as on a plain socket,
  // counted in plaintext bytes (a pause holds the handshake too: nothing is
  // read). ReceivedBytesWaiting adds what TLS holds undelivered; a receive
  // low-water mark is not applied (the peer's close_notify, with no FIN
  // behind it, could wait below it for good). File ranges
  // are read in bounded pieces and encrypted (memory stays bounded whatever
  // the length); a piece counts as sent once all its ciphertext has gone.
  // A TLS protocol failure on an established socket is a failure of the
  // connection: Error 10053, PWL_ERROR and the graceful close.
  // Returns 0, or the inner error number: 1000 inactive, 10038 unknown
  // socket, 10045 not a connected stream socket, 10022 TLS already started
  // or ResumeOf not an established TLS socket, 10093 no credentials, 10055
  // the library could not make the connection object.
  virtual std::int32_t StartTls(const std::string& SocketHandle, std::int32_t ResumeOf,
                                const PortwellData& ClearText = PortwellData(), std::int32_t TimeoutMs = 0) = 0;

  // ---- IPv6, an addition ----
  //
  // Stream sockets are of either family; datagram sockets stay IPv4 (Connect
  // and ConnectAsync with PWL_UDP refuse an IPv6 host: -1, LastSockErr
  // 10047; AddListener binds IPv4 as before). Every member above keeps its
  // meaning for IPv4; AdapterNumber still indexes the IPv4 list LocalHostIP
  // (-1 = every IPv4 address). The addresses the component reports
  // (RemoteHostIP, LocalIP, the snapshot's fields, LocalHostIP6) are in the
  // form of PortwellCanonicalAddress: dotted IPv4, IPv6 in the short form
  // ("::1", "2001:db8::5"; a link-local one with its zone, "fe80::1%eth0"),
  // and an IPv4-mapped peer (::ffff:a.b.c.d) as its IPv4 text, so counts and
  // bans per address take it for the IPv4 host. The snapshot's AddressFamily
  // says which family a socket is.
  //
  // Connect and ConnectAsync take an IPv6 literal as Host ("::1" or
  // "[::1]"); an IPv4-mapped literal connects over IPv4. A name connects to
  // its first IPv4 address as before, or to its first IPv6 address when it
  // has no IPv4 one; the name still costs one resolver call, which asks for
  // both kinds of record at once (literals need none).
  //
  // Accepted connections of an IPv6 listener carry the same fields as IPv4
  // ones (RemoteHostIP the peer, RemotePort the listening port, LocalPort the
  // peer's port, LocalIP the address the peer reached, ListenerHandle), and
  // StartTls works on them alike.

  // A TCP listener bound to one address. Address is a literal (see
  // PortwellCanonicalAddress): "::" is every IPv6 address of the host,
  // "0.0.0.0" every IPv4 one, any other literal that one address (an
  // IPv4-mapped one its IPv4 address). An IPv6 listener takes IPv6
  // connections only (IPV6_V6ONLY), so "::" never takes the IPv4 connections
  // of the same port: those are an IPv4 listener's, or refused. Port 0 picks
  // a free port (LocalPort tells which); as for AddListener, ports above
  // 65534 are refused. PWL_LISTENING is raised before it returns. Returns
  // the handle, or -1 with LastSockErr: 10049 for text that is no literal or
  // an address the host does not have, 10022 for a port out of range, 10048
  // for a port in use, 10093 before Activate(true); like AddListener's, a
  // failure after the services started raises ConnectionStatus(0,
  // PWL_ERROR). A passive data listener on the address a control connection
  // reached: AddListenerOn(0, ItemByKey(control).LocalIP).
  virtual std::int32_t AddListenerOn(std::int32_t PortToListenOn, const std::string& Address,
                                     std::int32_t BackLog = 5) = 0;
  // The host's IPv6 addresses, taken when the services start (as
  // LocalHostIP is): global and unique-local ones in interface order, then
  // "::1" last when the loopback interface has it. Link-local addresses are
  // left out: one means something only together with its interface, so no
  // client elsewhere can be told it or reach it. Empty when the host has no
  // IPv6. Adapter numbers never index this list.
  virtual std::vector<std::string> LocalHostIP6() const = 0;
};

// ---- factory and loader ---------------------------------------------------------------

extern "C" {
// Creates the object for className "Portwell.CPortwell"; nullptr otherwise.
PORTWELL_API CPortwell* PortwellCreateObject(const char* className);
PORTWELL_API void PortwellDestroyObject(CPortwell* object);
}

using PortwellCreateFn = CPortwell* (*)(const char*);
using PortwellDestroyFn = void (*)(CPortwell*);

// Destroys an object through the library that created it.
struct PortwellDeleter {
  PortwellDestroyFn destroy = nullptr;
  void operator()(CPortwell* object) const {
    if (object != nullptr && destroy != nullptr) destroy(object);
  }
};

enum class PortwellLoadStatus {
  Loaded,
  FileAbsent,    // no file at the path
  NotLoadable,   // present, but dlopen, the factory or the creation failed
};

// The loaded library and the one object made by it. The object goes first,
// then the library is closed.
class PortwellInstance {
 public:
  PortwellInstance() = default;
  PortwellInstance(PortwellInstance&& other) noexcept
      : library_(std::exchange(other.library_, nullptr)), object_(std::move(other.object_)) {}
  PortwellInstance& operator=(PortwellInstance&& other) noexcept {
    if (this != &other) {
      Reset();
      library_ = std::exchange(other.library_, nullptr);
      object_ = std::move(other.object_);
    }
    return *this;
  }
  PortwellInstance(const PortwellInstance&) = delete;
  PortwellInstance& operator=(const PortwellInstance&) = delete;
  ~PortwellInstance() { Reset(); }

  CPortwell* get() const { return object_.get(); }
  CPortwell* operator->() const { return object_.get(); }
  CPortwell& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

  void Reset() {
    object_.reset();
    if (library_ != nullptr) ::dlclose(library_);
    library_ = nullptr;
  }

  // Loads the library at `path` and creates "Portwell.CPortwell". On failure
  // the result is empty, `status` says why and `detail` (if given) holds the
  // loader's message.
  static PortwellInstance Load(const std::string& path, PortwellLoadStatus& status, std::string* detail = nullptr) {
    PortwellInstance result;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      status = PortwellLoadStatus::FileAbsent;
      if (detail) *detail = "file absent: " + path;
      return result;
    }
    status = PortwellLoadStatus::NotLoadable;
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      if (detail) {
        const char* why = ::dlerror();
        *detail = why ? why : "dlopen failed";
      }
      return result;
    }
    result.library_ = library;
    auto create = reinterpret_cast<PortwellCreateFn>(::dlsym(library, "PortwellCreateObject"));
    auto destroy = reinterpret_cast<PortwellDestroyFn>(::dlsym(library, "PortwellDestroyObject"));
    if (create == nullptr || destroy == nullptr) {
      if (detail) *detail = "factory not exported";
      result.Reset();
      return result;
    }
    result.object_ = std::unique_ptr<CPortwell, PortwellDeleter>(create("Portwell.CPortwell"), PortwellDeleter{destroy});
    if (!result.object_) {
      if (detail) *detail = "object not created";
      result.Reset();
      return result;
    }
    status = PortwellLoadStatus::Loaded;
    return result;
  }

 private:
  void* library_ = nullptr;
  std::unique_ptr<CPortwell, PortwellDeleter> object_;
};
