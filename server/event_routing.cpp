// The handlers of the socket component's events: the one place where network
// activity reaches the FTP engine. Control connections go to their session;
// every data-side socket goes to the session host that opened it, which
// hands the session what it needs to know.
#include "ftp/ftp_sessions.h"
#include "ftp/replies.h"
#include "log/log_lines.h"
#include "server/main_window.h"

namespace velto {

namespace {

// Runs a handler step; an unexpected failure becomes one error-log line
// with the handler's name, and the handler goes on.
template <typename Step>
bool Guarded(MGlobal& g, const char* context, Step step) {
  try {
    step();
    return true;
  } catch (const PortwellError& e) {
    g.LogError(e.Number, e.Description, context);
  } catch (const std::exception& e) {
    g.LogError(0, e.what(), context);
  }
  return false;
}

}  // namespace

void FMain::AddListEntry(std::int32_t handle, std::int32_t addressIndex, bool accepted) {
  CPortwell& pw = *g_.gobjPortwell;
  const std::string key = std::to_string(handle);
  // An IPv6 socket shows the address it is on: the adapter list is IPv4's.
  const auto info = pw.ItemByKey(key);
  const std::string localAddress = info.AddressFamily == 6 ? info.LocalIP : pw.LocalHostIP(addressIndex);
  // An accepted socket reports the listening (local) port as RemotePort and
  // the client's port as LocalPort; taking the ports from its record spares
  // asking the system again. Every connection listed here is a TCP one.
  const std::int32_t remotePort = pw.RemotePort(key);
  const std::int32_t recordedLocalPort = pw.LocalPort(handle);
  const std::int32_t localPort = accepted ? remotePort : recordedLocalPort;
  const std::int32_t foreignPort = accepted ? recordedLocalPort : remotePort;
  g_.gobjConnectionEntries->pAddConnectionEntry(*g_.lstConnections, handle, std::to_string(UnsignedPort(localPort)),
                                                "TCP", localAddress, info.RemoteHostIP,
                                                std::to_string(UnsignedPort(foreignPort)), "");
}

CFTPSession* FMain::ControlSession(std::int32_t handle) {
  if (!g_.gobjFTPSessions) return nullptr;
  const std::string key = std::to_string(handle);
  return g_.gobjFTPSessions->pExists(key) ? &g_.gobjFTPSessions->ItemByKey(key) : nullptr;
}

// A refused client hears why, then the connection closes once that is out.
void FMain::Refuse(std::int32_t handle, const std::string& text, bool& Accept) {
  g_.SendText(handle, text, "mobjPortwell_ConnectionRequest");
  g_.CloseSocket(handle, true);
  Accept = true;
}

void FMain::ConnectionRequest(std::int32_t SocketHandle, bool& Accept) {
  constexpr const char* kContext = "mobjPortwell_ConnectionRequest";
  ReplyBatch batch(hostContext_.get());
  if (g_.gbUnloading || !g_.gobjFTPSessions) {
    Accept = false;
    return;
  }
  CPortwell& pw = *g_.gobjPortwell;
  CFTPSessions& sessions = *g_.gobjFTPSessions;
  const std::string key = std::to_string(SocketHandle);
  g_.ConnectionOpened();
  Guarded(g_, kContext, [&] {
    pw.SetUseBufferToReceive(key, g_.gbUseBuffersToReceive);
    pw.SetUseBufferToSend(key, g_.gbUseBuffersToSend);
  });
  const auto accepted = pw.ItemByKey(key);
  const std::string& peer = accepted.RemoteHostIP;
  // The listener that accepted it says what it is: a port number could be
  // any of them.
  const std::int32_t listener = accepted.ListenerHandle;
  const bool implicitTls = g_.IsImplicitListener(listener);
  if (!g_.IsFTPListener(listener) && !implicitTls) {
    // A passive data connection: it belongs to the session that listens
    // there, only when it comes from that session's client, and only the
    // first one.
    PortwellSessionHost* host = routes_.ByListener(listener);
    Accept = false;
    Guarded(g_, kContext, [&] { Accept = host != nullptr && host->OfferPassive(SocketHandle, peer); });
    if (Accept) Guarded(g_, kContext, [&] { AddListEntry(SocketHandle, 0, true); });
    return;
  }
  if (sessions.pExists(key)) {
    Accept = false;
    return;
  }
  // An implicit-TLS client speaks TLS from its first byte: even a refusal
  // goes through the handshake.
  if (implicitTls) {
    const std::int32_t err = pw.StartTls(key, 0, PortwellData(), kTlsHandshakeMs);
    if (err != 0) {
      g_.LogError(err, "TLS could not start for the implicit-TLS client " + peer, kContext);
      Accept = false;
      return;
    }
  }
  if (sessions.OpenCount() >= sessions.MaxUsers) {
    Refuse(SocketHandle, BannerLine(sessions.BannerMaxUsers), Accept);
    return;
  }
  if (sessions.Guard().Banned(peer)) {
    Refuse(SocketHandle, reply::Line(reply::kBanned), Accept);
    return;
  }
  if (sessions.MaxConnectionsPerIP > 0 && sessions.OpenCountFrom(peer) >= sessions.MaxConnectionsPerIP) {
    Refuse(SocketHandle, reply::Line(reply::kTooManyFromAddress), Accept);
    return;
  }
  Guarded(g_, kContext, [&] {
    // Replies are small and the client waits for each: send them at once
    // instead of holding one back until the previous is acknowledged.
    pw.SetSockOptionValue(key, PWL_TCP_NODELAY, 1);
    // Urgent bytes (the Telnet synch clients send before ABOR) stay in
    // line, where the command framing strips them; otherwise the system
    // takes the last byte out of the stream and the ABOR never ends.
    pw.SetSockOptionValue(key, PWL_SO_OOBINLINE, 1);
    const auto info = pw.ItemByKey(key);
    ConnectionInfo connection;
    connection.clientAddress = info.RemoteHostIP;
    // For an accepted socket the component reports the listening port as
    // RemotePort and the client's port as LocalPort.
    connection.clientPort = UnsignedPort(info.LocalPort);
    // An IPv6 client reached one of the host's IPv6 addresses: that one is
    // the server's in its log lines (the adapter list is IPv4's).
    connection.serverAddress = info.AddressFamily == 6 ? info.LocalIP : g_.ServerAddress();
    connection.serverPort = UnsignedPort(info.RemotePort);
    connection.localAddress = info.LocalIP;
    connection.implicitTls = implicitTls;
    auto host = std::make_unique<PortwellSessionHost>(*hostContext_, SocketHandle);
    PortwellSessionHost& hostRef = *host;
    CFTPSession& session = sessions.pAddFTPSession(key, std::move(host), std::move(connection));
    hostRef.Attach(session);
    // Over implicit TLS the greeting waits in the component for the
    // handshake.
    g_.SendText(SocketHandle, session.StartSession(), kContext);
  });
  Guarded(g_, kContext, [&] { AddListEntry(SocketHandle, g_.gnFTPBindToIP < 0 ? 0 : g_.gnFTPBindToIP, true); });
  NotifySessionsChanged(SessionChange::Kind::kAdded, key);
}

void FMain::ConnectionEstablished(std::int32_t SocketHandle) {
  if (!g_.gobjFTPSessions) return;
  g_.ConnectionOpened();
  Guarded(g_, "mobjPortwell_ConnectionEstablished", [&] { AddListEntry(SocketHandle, 0, false); });
  // An outgoing (active-mode) data connection is ready.
  if (PortwellSessionHost* host = routes_.ByConnect(SocketHandle)) {
    Guarded(g_, "mobjPortwell_ConnectionEstablished", [&] { host->DataConnected(SocketHandle); });
  }
}

void FMain::ConnectionStatus(std::int32_t SocketHandle, PWL_SOCK_STATE SockState) {
  ReplyBatch batch(hostContext_.get());
  if (SockState == PWL_CLOSING && g_.gobjFTPSessions) {
    Guarded(g_, "mobjPortwell_ConnectionStatus", [&] {
      // A client that closed its control connection gives up its place and
      // its log-on at once.
      if (CFTPSession* session = ControlSession(SocketHandle)) {
        session->OnControlClosed();
        NotifySessionsChanged(SessionChange::Kind::kClosing, std::to_string(SocketHandle));
      } else if (PortwellSessionHost* host = routes_.ByData(SocketHandle)) {
        host->DataPeerClosing(SocketHandle, g_.gobjPortwell->QueReceiveCount(std::to_string(SocketHandle)) == 0);
      }
    });
  }
  if (!g_.gbViewRealTime || !g_.gobjPortwell) return;
  const std::string key = std::to_string(SocketHandle);
  if (!g_.gobjPortwell->ItemExists(key)) return;
  const auto info = g_.gobjPortwell->ItemByKey(key);
  g_.Feed(TimeStampText(SockStateText(SockState) + " - Port " + std::to_string(UnsignedPort(info.LocalPort))));
}

void FMain::DataArrival(std::int32_t SocketHandle, PortwellData& Data, bool& Retrieved) {
  constexpr const char* kContext = "mobjPortwell_DataArrival";
  ReplyBatch batch(hostContext_.get());
  Retrieved = true;
  if (!g_.gobjFTPSessions) return;
  if (g_.gbViewRealTime) {
    // The highest index of the delivered byte array: two bytes per
    // character for text.
    const std::size_t bytes = Data.IsText() ? Data.Size() * 2 : Data.Size();
    g_.Feed(TimeStampText("Received " + std::to_string(static_cast<std::int64_t>(bytes) - 1) + " bytes"));
  }
  Guarded(g_, kContext, [&] {
    if (CFTPSession* session = ControlSession(SocketHandle)) {
      session->OnControlData(Data.ToBytes());
      return;
    }
    if (PortwellSessionHost* host = routes_.ByData(SocketHandle)) {
      host->DataReceived(SocketHandle, Data.IsText() ? std::string_view(Data.ToBytes()) : Data.Bytes());
    }
  });
}

void FMain::EmptySendQue(std::int32_t SocketHandle, const std::string& EventID) {
  if (!g_.gobjFTPSessions) return;
  ReplyBatch batch(hostContext_.get());
  Guarded(g_, "mobjPortwell_EmptySendQue", [&] {
    if (EventID == PortwellSessionHost::kDrainId) {
      if (CFTPSession* session = ControlSession(SocketHandle)) {
        static_cast<PortwellSessionHost&>(session->Host()).EmptySendQue(SocketHandle, EventID);
      }
      return;
    }
    if (PortwellSessionHost* host = routes_.ByData(SocketHandle)) host->EmptySendQue(SocketHandle, EventID);
  });
}

void FMain::ConnectionTerminated(std::int32_t SocketHandle) {
  if (!g_.lstConnections) return;
  ReplyBatch batch(hostContext_.get());
  Guarded(g_, "mobjPortwell_ConnectionTerminated",
          [&] { gConnectionTerminated(std::to_string(SocketHandle), *g_.lstConnections); });
}

void FMain::gConnectionTerminated(const std::string& handleText, IListControl& list) {
  if (!g_.gobjFTPSessions) return;
  CFTPSessions& sessions = *g_.gobjFTPSessions;
  const std::int32_t handle = std::stoi(handleText);
  // A control connection ends: its session goes (the component still knows
  // the socket while it raises this event).
  if (sessions.pExists(handleText)) {
    CFTPSession& s = sessions.ItemByKey(handleText);
    s.SetActivityLogging(false);
    s.Close();
    sessions.pDeleteByKey(handleText);
    NotifySessionsChanged(SessionChange::Kind::kEnded, handleText);
  }
  if (handle == g_.gnListenSocket && g_.gbFTPActive) ActivateFTP();
  // A data connection ends: its host tells the session how.
  if (PortwellSessionHost* host = routes_.ByData(handle)) host->DataTerminated(handle);
  if (PortwellSessionHost* host = routes_.ByConnect(handle)) host->DataTerminated(handle);
  if (g_.gobjConnectionEntries->pExists(handleText)) g_.gobjConnectionEntries->pDeleteByKey(handleText, list);
  if (handle == g_.gnListenSocket) {
    g_.gnListenSocket = 0;
  } else if (handle == g_.gnListenSocket6) {
    g_.gnListenSocket6 = 0;
  } else if (handle == g_.gnImplicitListenSocket) {
    g_.gnImplicitListenSocket = 0;
  } else if (handle == g_.gnImplicitListenSocket6) {
    g_.gnImplicitListenSocket6 = 0;
  } else {
    g_.ConnectionClosed();
  }
}

void FMain::Error(std::int32_t SocketHandle, std::int32_t ErrorNum) {
  if (PortwellSessionHost* host = routes_.ByData(SocketHandle)) host->DataError(SocketHandle, ErrorNum);
  g_.Feed("An error occurred on SocketHandle " + std::to_string(SocketHandle) + "(" + std::to_string(ErrorNum) + ")");
}

void FMain::TlsEstablished(std::int32_t SocketHandle, bool Resumed) {
  if (!g_.gobjFTPSessions) return;
  ReplyBatch batch(hostContext_.get());
  Guarded(g_, "mobjPortwell_TlsEstablished", [&] {
    if (PortwellSessionHost* host = routes_.ByData(SocketHandle)) host->DataTlsEstablished(SocketHandle);
  });
  Guarded(g_, "mobjPortwell_TlsEstablished", [&] {
    // The connection's row says it is encrypted now.
    const std::string key = std::to_string(SocketHandle);
    if (!g_.gobjConnectionEntries || !g_.lstConnections || !g_.gobjConnectionEntries->pExists(key)) return;
    const CConnectionEntry entry = g_.gobjConnectionEntries->ItemByKey(key);
    g_.gobjConnectionEntries->pAddConnectionEntry(*g_.lstConnections, SocketHandle, entry.LocalPort(), "TLS",
                                                  entry.LocalAddress(), entry.ForeignAddress(), entry.ForeignPort(),
                                                  entry.State());
  });
  if (g_.gbViewRealTime) {
    g_.Feed(TimeStampText("TLS established on SocketHandle " + std::to_string(SocketHandle) +
                          (Resumed ? " (session resumed)" : "")));
  }
}

void FMain::TlsFailed(std::int32_t SocketHandle, const std::string& Reason) {
  constexpr const char* kContext = "mobjPortwell_TlsFailed";
  if (!g_.gobjFTPSessions) return;
  ReplyBatch batch(hostContext_.get());
  Guarded(g_, kContext, [&] {
    if (CFTPSession* session = ControlSession(SocketHandle)) {
      // Nothing more can pass on it: the connection ends, and the session
      // with it.
      g_.LogError(0, "TLS with " + session->Connection().clientAddress + " failed: " + Reason, kContext);
      g_.CloseSocket(SocketHandle, true);
      return;
    }
    if (PortwellSessionHost* host = routes_.ByData(SocketHandle)) host->DataTlsFailed(SocketHandle, Reason);
  });
}

}  // namespace velto
