// The handlers of the socket component's events: the one place where network
// activity reaches the FTP engine.
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
  const auto info = pw.ItemByKey(std::to_string(handle));
  // An accepted socket reports the listening (local) port as RemotePort;
  // taking the ports from its record spares asking the system again.
  const std::int32_t localPort = accepted ? info.RemotePort : pw.LocalPort(handle);
  g_.gobjConnectionEntries->pAddConnectionEntry(
      *g_.lstConnections, handle, std::to_string(UnsignedPort(localPort)), info.Protocol == PWL_TCPIP ? "TCP" : "UDP",
      pw.LocalHostIP(addressIndex), info.RemoteHostIP, std::to_string(UnsignedPort(info.RemotePort)), "");
}

void FMain::ConnectionRequest(std::int32_t SocketHandle, bool& Accept) {
  constexpr const char* kContext = "mobjPortwell_ConnectionRequest";
  if (g_.gbUnloading || !g_.gobjFTPSessions) {
    Accept = false;
    return;
  }
  CPortwell& pw = *g_.gobjPortwell;
  CFTPSessions& sessions = *g_.gobjFTPSessions;
  const std::string key = std::to_string(SocketHandle);
  if (g_.gbViewRealTime) g_.diagnostics->ConnectionOpened();
  Guarded(g_, kContext, [&] {
    pw.SetUseBufferToReceive(key, g_.gbUseBuffersToReceive);
    pw.SetUseBufferToSend(key, g_.gbUseBuffersToSend);
  });
  const std::int32_t port = UnsignedPort(pw.RemotePort(key));
  const bool control = port == g_.gnFTPPort;
  if (control) {
    if (sessions.OpenCount() < sessions.MaxUsers) {
      if (sessions.pExists(key)) {
        Accept = false;
        return;
      }
      Guarded(g_, kContext, [&] {
        // Replies are small and the client waits for each: send them at
        // once instead of holding one back until the previous is acknowledged.
        pw.SetSockOption(key, PWL_TCP_NODELAY, true);
        sessions.pAddFTPSession(key, g_.gsAppPath);
        g_.SendText(SocketHandle, sessions.ItemByKey(key).StartSession(), kContext);
      });
    } else {
      g_.SendText(SocketHandle, sessions.BannerMaxUsers, kContext);
      Accept = false;
    }
  } else {
    // A passive data connection: it belongs to the session that listens on
    // that port, and only when it comes from that session's client.
    Accept = false;
    const std::string peer = pw.RemoteHostIP(key);
    const std::string portText = std::to_string(port);
    for (std::int32_t i = 1; i <= sessions.Count(); ++i) {
      CFTPSession& s = sessions.ItemByIndex(i);
      if (s.AcceptsDataConnection(portText, peer)) {
        s.OnDataConnected(SocketHandle);
        Accept = true;
      }
    }
  }
  if (Accept) {
    Guarded(g_, kContext, [&] {
      AddListEntry(SocketHandle, control ? (g_.gnFTPBindToIP < 0 ? 0 : g_.gnFTPBindToIP) : 0, true);
    });
  }
}

void FMain::ConnectionEstablished(std::int32_t SocketHandle) {
  if (!g_.gobjFTPSessions) return;
  if (g_.gbViewRealTime) g_.diagnostics->ConnectionOpened();
  Guarded(g_, "mobjPortwell_ConnectionEstablished", [&] { AddListEntry(SocketHandle, 0, false); });
  // An outgoing (active-mode) data connection is ready.
  CFTPSession* s = g_.gobjFTPSessions->ItemByPendingConnect(SocketHandle);
  if (s != nullptr) {
    Guarded(g_, "mobjPortwell_ConnectionEstablished", [&] { s->OnDataConnected(SocketHandle); });
  }
}

void FMain::ConnectionStatus(std::int32_t SocketHandle, PWL_SOCK_STATE SockState) {
  if (SockState == PWL_CLOSING && g_.gobjFTPSessions) {
    // A client that closed its control connection gives up its place at once.
    g_.gobjFTPSessions->pMarkClosing(std::to_string(SocketHandle));
    // A client that closed the data connection of an upload has sent
    // everything: the upload completes now, not when the close has run.
    CFTPSession* s = g_.gobjFTPSessions->ItemBySocketHandleData(SocketHandle);
    if (s != nullptr && s->WaitingForSTORFile) {
      Guarded(g_, "mobjPortwell_ConnectionStatus", [&] {
        const auto info = g_.gobjPortwell->ItemByKey(std::to_string(SocketHandle));
        if (info.QueReceiveCount == 0) s->OnDataPeerClosed(SocketHandle);
      });
    }
  }
  if (!g_.gbViewRealTime || !g_.gobjPortwell) return;
  try {
    const auto info = g_.gobjPortwell->ItemByKey(std::to_string(SocketHandle));
    g_.Feed(TimeStampText(SockStateText(SockState) + " - Port " + std::to_string(UnsignedPort(info.LocalPort))));
  } catch (const std::exception&) {
  }
}

void FMain::DataArrival(std::int32_t SocketHandle, PortwellData& Data, bool& Retrieved) {
  constexpr const char* kContext = "mobjPortwell_DataArrival";
  Retrieved = true;
  if (!g_.gobjFTPSessions) return;
  CPortwell& pw = *g_.gobjPortwell;
  CFTPSessions& sessions = *g_.gobjFTPSessions;
  if (g_.gbViewRealTime) {
    // The highest index of the delivered byte array: two bytes per
    // character for text.
    const std::size_t bytes = Data.IsText() ? Data.Size() * 2 : Data.Size();
    g_.Feed(TimeStampText("Received " + std::to_string(static_cast<std::int64_t>(bytes) - 1) + " bytes"));
  }
  const std::string key = std::to_string(SocketHandle);
  Guarded(g_, kContext, [&] {
    const std::int32_t port = UnsignedPort(pw.RemotePort(key));
    if (port == g_.gnFTPPort && sessions.pExists(key)) {
      CFTPSession& s = sessions.ItemByKey(key);
      const std::string text = Data.ToBytes();
      if (s.ActivityLogging()) s.ActivityUpdate(text);
      // One command per complete line; a block may hold several lines or
      // only part of one. A command may close the session's own connection.
      for (const auto& line : s.pReceive(text)) {
        if (s.Closed() || !sessions.pExists(key)) break;
        s.ResponseBuff = line.tooLong ? std::string(reply::kLineTooLong) + reply::kCrLf : s.pSubmitCommand(line.text);
        if (!s.ResponseBuff.empty() && !s.Closed()) g_.SendText(SocketHandle, s.ResponseBuff, kContext);
        s.ResponseBuff.clear();
      }
      if (g_.gobjMessageQueue) g_.gobjMessageQueue->ProcessWndMsgs(0);
      return;
    }
    CFTPSession* s = sessions.ItemBySocketHandleData(SocketHandle);
    if (s != nullptr && s->WaitingForSTORFile) {
      if (Data.IsText()) {
        s->pCommandSTOR(Data.ToBytes());
      } else {
        s->pCommandSTOR(Data.Bytes());
      }
    }
  });
}

void FMain::EmptySendQue(std::int32_t SocketHandle, const std::string& EventID) {
  if (!g_.gobjFTPSessions) return;
  if (EventID == "RETR-PART") {
    // A part of a large download is out; the session announces the next.
    if (CFTPSession* s = g_.gobjFTPSessions->ItemBySocketHandleData(SocketHandle)) s->OnSendProgress(SocketHandle);
    return;
  }
  if (EventID != "RETR" && EventID != "NLST" && EventID != "LIST") return;
  Guarded(g_, "mobjPortwell_EmptySendQue", [&] {
    const std::string key = std::to_string(SocketHandle);
    g_.gobjPortwell->NotifyOnEmptySendQue(key, "", 0);
    CFTPSession* s = g_.gobjFTPSessions->ItemBySocketHandleData(SocketHandle);
    if (s != nullptr) s->OnTransferDone(SocketHandle);
    g_.gobjPortwell->CloseSock(key, false);
  });
}

void FMain::ConnectionTerminated(std::int32_t SocketHandle) {
  if (!g_.lstConnections) return;
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
  }
  if (handle == g_.gnListenSocket && g_.gbFTPActive) ActivateFTP();
  // A data connection ends: the session finishes its upload or forgets the
  // handle.
  if (CFTPSession* s = sessions.ItemBySocketHandleData(handle)) s->OnDataTerminated(handle);
  if (CFTPSession* s = sessions.ItemByPendingConnect(handle)) s->OnDataConnectFailed(handle);
  if (g_.gobjConnectionEntries->pExists(handleText)) g_.gobjConnectionEntries->pDeleteByKey(handleText, list);
  if (handle == g_.gnListenSocket) {
    g_.gnListenSocket = 0;
  } else if (g_.gbViewRealTime) {
    g_.diagnostics->ConnectionClosed();
  }
}

void FMain::Error(std::int32_t SocketHandle, std::int32_t ErrorNum) {
  g_.Feed("An error occurred on SocketHandle " + std::to_string(SocketHandle) + "(" + std::to_string(ErrorNum) + ")");
}

}  // namespace velto
