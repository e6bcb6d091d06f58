// What an FTP session asks of the world outside it: its control connection,
// one data connection at a time and one-shot timers. The server implements
// it over the socket component; unit tests implement it with a recording
// fake. A session never sees a socket.
//
// Calls into the host may come back into the session synchronously only
// through the On... members the host documents below; a host never destroys
// the session from inside one of its calls.
#pragma once

#include "platform/fd.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velto {

class ISessionHost {
 public:
  using TimerId = std::uint32_t;

  virtual ~ISessionHost() = default;

  // ---- the control connection ----
  // Queues reply text (whole lines, CR LF included) for the client.
  virtual void Send(std::string_view text) = 0;
  // True while more sent text than the host allows waits for the client;
  // the host then calls the session's OnControlDrained once it has gone.
  virtual bool Backlogged() = 0;
  // Stops (true) or resumes (false) taking bytes from the client, so a
  // session that cannot take commands now holds nothing more than the
  // lines it already has.
  virtual void HoldInput(bool hold) = 0;
  // Ends the control connection once what was sent has gone out.
  virtual void CloseControl() = 0;

  // ---- the data connection ----
  // Opens a passive listener and returns its port, or 0 when none could be
  // opened. The first connection that arrives from the client's own address
  // becomes the data connection (OnDataConnected) and the listener closes.
  virtual int OpenPassive() = 0;
  virtual void ClosePassive() = 0;
  // Starts an outgoing data connection (never blocking); false when it
  // cannot even start. OnDataConnected or OnDataConnectFailed follows.
  virtual bool ConnectData(const std::string& address, int port) = 0;
  // Sends on the data connection; OnDataSent follows once all of it has
  // gone out. False when nothing could be queued.
  virtual bool SendFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length) = 0;
  virtual bool SendData(std::string bytes) = 0;
  // Ends the data connection; what was queued is delivered first.
  virtual void CloseData() = 0;
  // Bytes of the data connections the client has taken so far: what it
  // has acknowledged of a download (not merely what the system took from
  // the session, which a large send buffer holds for long) and what it has
  // sent of an upload. Any count that moves with traffic; the idle check
  // only compares it.
  virtual std::int64_t DataBytesTaken() const = 0;

  // ---- TLS (the host keeps the library; the session only asks) ----
  // True when the server holds usable TLS credentials now.
  virtual bool TlsAvailable() const = 0;
  // Sends `reply` (AUTH's 234) in clear, drops whatever the client sent
  // behind the command and starts TLS on the control connection: every
  // reply queued after this call goes out encrypted. A handshake that fails
  // ends the connection (the session hears OnControlClosed as for any
  // client that goes).
  virtual void StartControlTls(std::string_view reply) = 0;
  // Whether the data connections opened from now on are encrypted (PROT P).
  // With protection on, OnDataConnected comes only once the data
  // connection's handshake is done (and it resumed this control
  // connection's session where the server requires that);
  // OnDataConnectFailed comes when it failed. Nothing is ever sent on a
  // protected data connection before its handshake is done.
  virtual void SetDataProtection(bool protect) = 0;

  // ---- timers ----
  // Runs `callback` once after `milliseconds` on the event loop; 0 when no
  // timer could be set.
  virtual TimerId StartTimer(std::uint32_t milliseconds, std::function<void()> callback) = 0;
  virtual void StopTimer(TimerId id) = 0;
};

// Where a control connection comes from and arrived, known at accept.
struct ConnectionInfo {
  std::string clientAddress;
  int clientPort = 0;
  std::string serverAddress;  // the address the access log names for this server
  int serverPort = 0;
  std::string localAddress;   // the address the client reached (what PASV announces)
  // Reached through the implicit-TLS listener: the control connection is
  // encrypted from its first byte and data protection is on from the start.
  bool implicitTls = false;
};

}  // namespace velto
