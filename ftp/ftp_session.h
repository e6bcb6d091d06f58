// One FTP control connection: its state and its command interpreter.
//
// The interpreter takes one command line at a time and returns the reply to
// send ("" when it sent its replies itself or closed the connection). The
// command handlers live in topic files: log-on (login.cpp), navigation and
// file management (session_files.cpp), data connections and transfers
// (session_transfer.cpp), listings (session_listing.cpp).
#pragma once

#include "ftp/command_line.h"
#include "platform/event_loop.h"
#include "platform/fd.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

struct MGlobal;
class CDirectory;
class CFTPUser;
class CFTPSessions;

class CFTPSession {
 public:
  explicit CFTPSession(MGlobal& globals);
  ~CFTPSession();
  CFTPSession(const CFTPSession&) = delete;
  CFTPSession& operator=(const CFTPSession&) = delete;

  // Public state.
  std::string UserID;
  std::string TypeMode = "A";
  std::string DataPortToConnectOn;
  std::string DataPortToListenOn;
  std::int32_t SocketHandleDataListener = 0;
  bool WaitingForSTORFile = false;
  std::int64_t FilePos = 0;
  std::int32_t HwndMain = 0;
  std::string ResponseBuff;

  // Logged on by a successful PASS, off again after QUIT/BYE.
  bool LoggedOn() const { return loggedOn_; }
  void SetLoggedOn(bool on);
  // The data connection's handle, 0 when there is none.
  std::int32_t SocketHandleData() const { return socketHandleData_; }
  void SetSocketHandleData(std::int32_t handle);
  // The table this session is in (it keeps its lookups current).
  void AttachTable(CFTPSessions* table) { table_ = table; }

  const std::string& SocketHandle() const { return controlSocketHandle_; }
  void SetSocketHandle(const std::string& handle);
  std::int32_t ControlHandle() const { return controlHandle_; }
  std::string DefaultDirectory() const;
  void SetDefaultDirectory(const std::string& directory);
  CDirectory& Directory() { return *directory_; }

  // Idle time since the end of the last command, on a monotonic clock.
  double IdleMilliseconds() const;
  // Seconds since midnight of the last command (what the monitoring windows show).
  std::int32_t LastAccessTime() const { return lastAccessTime_; }

  // The 220 greeting.
  std::string StartSession() const;
  // Bytes received on the control connection; returns the complete lines
  // they finish (Telnet sequences stripped), each to go to pSubmitCommand.
  std::vector<ControlLineFramer::Line> pReceive(std::string_view bytes);
  // The control connection was closed by the session (no more commands).
  bool Closed() const { return closed_; }
  // Interprets one command line.
  std::string pSubmitCommand(std::string_view vsCommand);
  // Bytes of an upload (data connection).
  void pCommandSTOR(std::string_view bytData);

  bool ActivityLogging() const { return activityLogging_; }
  void SetActivityLogging(bool on) { activityLogging_ = on; }
  void ActivityUpdate(std::string_view) {}
  void ActivityClear() {}

  // Data connection events routed by the main window.
  // Whether a connection accepted on `port` from `peer` is this session's
  // passive data connection.
  bool AcceptsDataConnection(const std::string& portText, const std::string& peer) const;
  // The outgoing data connection being made, 0 when none.
  std::int32_t PendingConnect() const { return pendingConnect_; }
  void OnDataConnected(std::int32_t handle);
  void OnDataConnectFailed(std::int32_t handle);
  void OnDataTerminated(std::int32_t handle);
  // The client closed the data connection and every byte it sent arrived.
  void OnDataPeerClosed(std::int32_t handle);
  void OnTransferDone(std::int32_t handle);
  // A part of a large download was sent (its completion is announced in
  // parts: the component counts bytes in 32 bits).
  void OnSendProgress(std::int32_t handle);
  // The session ends: release its listener and data connection.
  void Close();

  // The account of `UserID`, or nullptr.
  CFTPUser* Account() const;

 private:
  using Handler = std::string (CFTPSession::*)(const ParsedCommand&);
  struct Verb {
    const char* name;
    Handler handler;
  };
  static const Verb kVerbs[];

  std::string Dispatch(const ParsedCommand& command);
  void AfterCommand(std::string_view block);
  void SendReply(std::string_view text);
  void Disconnect();
  std::int32_t MaxLogonAttempts() const;

  // log-on
  std::string CmdUSER(const ParsedCommand&);
  std::string CmdPASS(const ParsedCommand&);
  bool ValidateUser(const std::string& id, const std::string& password) const;
  // simple commands
  std::string CmdSYST(const ParsedCommand&);
  std::string CmdNOOP(const ParsedCommand&);
  std::string CmdQUIT(const ParsedCommand&);
  // navigation and file management
  std::string CmdCWD(const ParsedCommand&);
  std::string CmdCD(const ParsedCommand&);
  std::string CmdCDUP(const ParsedCommand&);
  std::string CmdPWD(const ParsedCommand&);
  std::string CmdMKD(const ParsedCommand&);
  std::string CmdRMD(const ParsedCommand&);
  std::string CmdDELE(const ParsedCommand&);
  std::string CmdRNFR(const ParsedCommand&);
  std::string CmdRNTO(const ParsedCommand&);
  // data connections and transfers
  std::string CmdPORT(const ParsedCommand&);
  std::string CmdPASV(const ParsedCommand&);
  std::string CmdTYPE(const ParsedCommand&);
  std::string CmdREST(const ParsedCommand&);
  std::string CmdRETR(const ParsedCommand&);
  std::string CmdSTOR(const ParsedCommand&);
  std::string CmdABOR(const ParsedCommand&);
  // listings
  std::string CmdLIST(const ParsedCommand&);
  std::string CmdNLST(const ParsedCommand&);

  // ---- data connection and transfer state ----
  struct Transfer {
    enum class Kind { None, Retr, Stor, List, Nlst };
    Kind kind = Kind::None;
    std::string path;     // RETR: file to send
    std::string listing;  // LIST/NLST: the text to send
    std::int64_t offset = 0;
    std::int64_t length = 0;
  };
  // Sends the preliminary reply, then starts `transfer` on the data
  // connection, or waits for it (passive) / makes it (active).
  void BeginTransfer(Transfer transfer, std::string_view preliminary);
  void StartTransfer(std::int32_t handle);
  void FailTransfer();
  void SendNextPart(std::int32_t handle);
  void ClosePassiveListener();
  void CloseDataConnection();
  void CancelWait();
  void EndUpload();
  bool ControlPeer(std::string& address) const;

  Transfer pending_;                     // waiting for the data connection
  Transfer::Kind active_ = Transfer::Kind::None;  // running on SocketHandleData
  std::int64_t retrRemaining_ = 0;       // bytes not yet announced for completion
  platform::TimerId waitTimer_ = 0;
  platform::UniqueFd storFile_;
  std::int64_t storOffset_ = 0;
  std::string storBuffer_;  // received upload bytes not yet written
  void FlushUpload();
  void WriteUpload(const char* data, std::size_t size);
  bool storFailed_ = false;

  MGlobal& g_;
  std::unique_ptr<CDirectory> directory_;
  ControlLineFramer framer_;
  std::string controlSocketHandle_;
  std::int32_t controlHandle_ = 0;
  std::int32_t logonAttempts_ = 0;
  std::string dataHostAddress_;
  bool passiveMode_ = false;
  std::string storFilePath_;
  std::string renameFromPath_;
  bool activityLogging_ = false;
  bool closed_ = false;
  std::int32_t lastAccessTime_ = 0;
  std::int32_t pendingConnect_ = 0;
  void SetPendingConnect(std::int32_t handle);
  bool SameLoggedOnId(const std::string& id) const;
  bool loggedOn_ = false;
  std::string loggedOnAs_;  // the id (lower case) it logged on with
  std::int32_t socketHandleData_ = 0;
  CFTPSessions* table_ = nullptr;
  std::chrono::steady_clock::time_point lastAccess_ = std::chrono::steady_clock::now();

};

}  // namespace velto
