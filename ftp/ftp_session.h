// One FTP control connection: its state and its command interpreter.
//
// The session is socket-free: it takes the client's bytes (OnControlData),
// answers through its host (session_host.h) and hears about its data
// connection through the On... members. pSubmitCommand interprets one line
// and returns the reply for the caller to send ("" when the session sent
// its replies itself, holds them back, or closed the connection).
//
// Command handlers live in topic files: log-on (login.cpp), navigation and
// file management (session_files.cpp), data connections and transfers
// (session_transfer.cpp), listings (session_listing.cpp), FTPS's security
// commands and policies (session_tls.cpp); the simple status and
// negotiation commands are in ftp_session.cpp.
#pragma once

#include "ftp/command_line.h"
#include "ftp/listing.h"
#include "ftp/logon_guard.h"
#include "ftp/session_host.h"
#include "ftp/upload_target.h"
#include "platform/fd.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velto {

class CDirectory;
class CFTPSessions;
class CFTPUser;
struct SessionOptions;

class CFTPSession {
 public:
  // `table` supplies the options, the accounts and the logs and keeps the
  // log-on counts; the session does not have to be in it. The session owns
  // its host.
  CFTPSession(CFTPSessions& table, std::unique_ptr<ISessionHost> host, ConnectionInfo info);
  ~CFTPSession();
  CFTPSession(const CFTPSession&) = delete;
  CFTPSession& operator=(const CFTPSession&) = delete;

  // Public state.
  std::string UserID;
  std::string TypeMode = "A";
  std::string DataPortToConnectOn;
  std::string DataPortToListenOn;
  bool WaitingForSTORFile = false;
  std::int64_t FilePos = 0;

  // Logged on by a successful PASS; off again after USER, QUIT, BYE or AUTH.
  bool LoggedOn() const { return loggedOn_; }
  // The control connection is encrypted (AUTH TLS, or the implicit-TLS
  // listener), and whether data connections are (PROT P): what the
  // monitoring windows show.
  bool ControlSecured() const { return controlSecured_; }
  bool DataProtected() const { return dataProtected_; }
  void SetLoggedOn(bool on);

  // The key in the session table (the control socket's handle as text).
  const std::string& SocketHandle() const { return key_; }
  void SetSocketHandle(const std::string& key) { key_ = key; }
  const ConnectionInfo& Connection() const { return info_; }
  ISessionHost& Host() { return *host_; }

  std::string DefaultDirectory() const;
  void SetDefaultDirectory(const std::string& directory);
  CDirectory& Directory() { return *directory_; }

  // Idle time since the last command or data traffic, on a monotonic clock.
  double IdleMilliseconds() const;
  // Looks whether the data connection moved bytes since the last look; if
  // so, the session is not idle.
  void NoteDataTraffic();
  // Seconds since midnight of the last command (what the monitoring windows show).
  std::int32_t LastAccessTime() const { return lastAccessTime_; }

  // The 220 greeting.
  std::string StartSession() const;
  // Bytes from the client: complete lines are interpreted in order and
  // answered, unless the session is holding (a delayed reply, a password
  // check, too much unsent output), in which case they wait.
  void OnControlData(std::string_view bytes);
  // The unsent output went below the host's bound.
  void OnControlDrained();
  // The client closed the control connection: no more commands.
  void OnControlClosed();
  // The control connection was closed (no more commands or replies).
  bool Closed() const { return closed_; }
  // Interprets one command line; returns the reply to send.
  std::string pSubmitCommand(std::string_view vsCommand);
  // Bytes of an upload (data connection).
  void pCommandSTOR(std::string_view bytData);

  // The idle time-out: tells the client, then closes.
  void TimeOut();

  bool ActivityLogging() const { return activityLogging_; }
  void SetActivityLogging(bool on) { activityLogging_ = on; }
  // What the activity window shows (received text while logging is on).
  void ActivityUpdate(std::string_view text);
  void ActivityClear();

  // The data connection, as the host reports it.
  void OnDataConnected();
  void OnDataConnectFailed();
  void OnDataReceived(std::string_view bytes);
  void OnDataSent();
  // The data connection ended: cleanly (the client closed it after every
  // byte arrived) or with an error (a reset, a failed socket).
  void OnDataClosed(bool error);

  // The session ends: what an upload received is written, the data
  // connection and the listener are released.
  void Close();

  // The logged-on account, or nullptr (no rights without one).
  CFTPUser* Account() const;

 private:
  using Handler = std::string (CFTPSession::*)(const ParsedCommand&);
  struct Verb {
    const char* name;
    Handler handler;
    // Answered before log-on without counting as a failed attempt: what
    // clients send to learn about the server and to leave.
    bool open = false;
    // FTPS's commands: HELP names them only while TLS is available.
    bool tls = false;
  };
  static const Verb kVerbs[];
  static const Verb* FindVerb(const std::string& name);

  void RunQueued();
  // No command is taken until Release. `pauseInput` false: the client's
  // bytes are still read (up to kMaxLinesWhileHeld lines), so its close is
  // seen at once.
  void Hold(bool pauseInput = true);
  static constexpr std::size_t kMaxLinesWhileHeld = 32;
  void Release();
  void AfterCommand(const ParsedCommand& command, std::string_view block);
  void SendReply(std::string_view text);
  void Disconnect();
  std::int32_t MaxLogonAttempts() const;
  const SessionOptions& Options() const;
  // A timer owned by the session: stopped when the session goes.
  ISessionHost::TimerId StartTimer(std::uint32_t ms, std::function<void()> callback);
  void StopTimer(ISessionHost::TimerId& id);

  // log-on
  std::string CmdUSER(const ParsedCommand&);
  std::string CmdPASS(const ParsedCommand&);
  std::string FinishPass(bool valid);
  // Starts a password check that answers later on the loop; the session
  // takes no command meanwhile.
  void CheckPassLater(const std::function<void(std::function<void(bool)> done)>& start);
  std::string CompleteLogOn(bool waited);
  std::string FailedLogon(bool waited = false);
  std::int64_t FailureDelay(std::int32_t failures) const;
  bool HoldReply(std::int64_t delay, std::function<std::string()> answer);
  CLogonGuard::Failure NoteLogonFailure();
  void RefuseLogon(bool last);
  // The address was banned: a session not logged on hears so and closes.
  void RefuseBanned();
  void EndBannedLogons();
  // The control connection closes: a PASS not yet answered has failed.
  void OnLogonClosing();
  bool SameLoggedOnId(const std::string& id) const;
  // status and negotiation
  std::string CmdSYST(const ParsedCommand&);
  std::string CmdNOOP(const ParsedCommand&);
  std::string CmdQUIT(const ParsedCommand&);
  std::string CmdFEAT(const ParsedCommand&);
  std::string CmdHELP(const ParsedCommand&);
  std::string CmdOPTS(const ParsedCommand&);
  std::string CmdSTAT(const ParsedCommand&);
  std::string CmdMODE(const ParsedCommand&);
  std::string CmdSTRU(const ParsedCommand&);
  std::string CmdALLO(const ParsedCommand&);
  // FTPS (RFC 4217): answered before log-on too.
  std::string CmdAUTH(const ParsedCommand&);
  std::string CmdPBSZ(const ParsedCommand&);
  std::string CmdPROT(const ParsedCommand&);
  std::string CmdCCC(const ParsedCommand&);
  // Whether this server has TLS at all: a certificate configured, TLS
  // available, or this connection secured. Without, the security commands
  // answer as they did before the server knew TLS.
  bool TlsOffered() const;
  // Whether a log-on as `id` must wait for TLS on this connection.
  bool LogonNeedsTls(const std::string& id) const;
  // AUTH: the client logs on again, under TLS.
  void RestartLogOn();
  // The refusal of a transfer or listing that TLSRequiredForData forbids
  // now, or "".
  std::string DataRefusal() const;
  // Gives a connection that is not logged on LogonTimeout to do so.
  void ArmLogonTimer();
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
  std::string CmdSIZE(const ParsedCommand&);
  std::string CmdMDTM(const ParsedCommand&);
  std::string CmdMFMT(const ParsedCommand&);
  std::string CmdSITE(const ParsedCommand&);
  // data connections and transfers
  std::string CmdPORT(const ParsedCommand&);
  std::string CmdPASV(const ParsedCommand&);
  std::string CmdTYPE(const ParsedCommand&);
  std::string CmdREST(const ParsedCommand&);
  std::string CmdRETR(const ParsedCommand&);
  std::string CmdSTOR(const ParsedCommand&);
  std::string CmdABOR(const ParsedCommand&);
  std::string CmdEPSV(const ParsedCommand&);
  std::string CmdEPRT(const ParsedCommand&);
  std::string CmdAPPE(const ParsedCommand&);
  std::string CmdSTOU(const ParsedCommand&);
  std::string Upload(const ParsedCommand& command, bool append);
  bool LocateUpload(const std::string& argument, bool limited, std::string& path) const;
  // Data goes to `address`:`port` from now on (PORT, EPRT).
  void UseActive(const std::string& address, int port);
  // Opens a passive listener; its port, or 0 (PASV, EPSV).
  int UsePassive();
  // listings
  std::string CmdLIST(const ParsedCommand&);
  std::string CmdNLST(const ParsedCommand&);
  std::string CmdMLSD(const ParsedCommand&);
  std::string CmdMLST(const ParsedCommand&);
  // What a listing command's argument names; "" or the refusal to answer.
  struct Listed;
  std::string FindListed(const std::string& argument, Listed& out);
  std::unique_ptr<ListingCursor> OpenListed(const Listed& listed, ListingStyle style);
  std::string StatPath(const std::string& argument);
  FactOptions Facts() const;
  // STAT's listing over the control connection, as the client reads it.
  void SendControlListing();

  // ---- data connection and transfer state ----
  struct Transfer {
    // List covers every listing on the data connection (LIST, MLSD).
    enum class Kind { None, Retr, Stor, List, Nlst };
    enum class Write { Replace, Append, Unique };
    Kind kind = Kind::None;
    platform::UniqueFd file;   // RETR: the file, opened and checked
    std::string path;          // STOR: the file to write
    Write write = Write::Replace;  // STOR: how the file is written
    std::int64_t offset = 0;   // RETR: first byte; STOR: restart position
    std::int64_t length = 0;   // RETR: bytes to send
    std::unique_ptr<ListingCursor> listing;  // LIST/NLST/MLSD
    CUploadTarget target;      // STOU: the name taken for it
    // For the transfer log: the file as the client names it, the type and
    // the account when the command came, when the data began to move, what
    // the host's count said then and what an upload received.
    std::string shownPath;
    bool ascii = false;
    std::string user;
    bool anonymous = false;
    std::chrono::steady_clock::time_point started{};
    std::int64_t takenBefore = 0;
    std::int64_t received = 0;
  };
  enum class DataMode { None, Passive, Active };

  // Sends the preliminary reply, then starts `transfer` as soon as the data
  // connection exists (at once, when the client connects, or when the
  // outgoing connection is made). Returns the reply to give instead when
  // it cannot even begin.
  std::string BeginTransfer(Transfer transfer, std::string_view preliminary);
  void StartTransfer();
  void FailTransfer();
  void SendNextListingPiece();
  void FinishTransfer(std::string_view reply);
  bool OpenUploadTarget();
  void ClosePassiveListener();
  void CloseDataConnection();
  void CancelWait();
  void EndUpload(bool error);
  void FlushUpload();
  void WriteUpload(const char* data, std::size_t size);
  bool TransferBusy() const;
  // The transfer log's line for the running file transfer (listings have
  // none); called before `active_` is cleared.
  void LogTransfer(bool complete);

  CFTPSessions& table_;
  std::unique_ptr<ISessionHost> host_;
  ConnectionInfo info_;
  std::unique_ptr<CDirectory> directory_;
  ControlLineFramer framer_;
  std::deque<ControlLineFramer::Line> queued_;  // lines waiting while the session holds
  std::string key_;

  // Held: no command is taken until the reason goes.
  bool held_ = false;
  bool running_ = false;
  bool waitingForDrain_ = false;
  bool closed_ = false;
  // Outstanding callbacks (timers, password checks) hold a weak copy.
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);

  std::int32_t logonAttempts_ = 0;
  bool passPending_ = false;  // a PASS not yet answered nor counted as a failure
  bool loggedOn_ = false;
  bool counted_ = false;     // counted in the table's log-ons per id
  std::string loggedOnAs_;   // the id (lower case) it logged on with
  ISessionHost::TimerId logonTimer_ = 0;
  ISessionHost::TimerId replyTimer_ = 0;

  bool controlSecured_ = false;  // AUTH TLS accepted, or implicit TLS
  bool pbszDone_ = false;        // PBSZ accepted: PROT may follow
  bool dataProtected_ = false;   // PROT P in force

  DataMode dataMode_ = DataMode::None;
  bool passiveOpen_ = false;
  bool dataConnected_ = false;
  bool connecting_ = false;
  std::string dataHostAddress_;
  Transfer pending_;                   // waiting for the data connection
  Transfer active_;                    // running on the data connection
  // A listing piece is being handed to the host, and the host reported it
  // sent meanwhile (see SendNextListingPiece).
  bool sendingListing_ = false;
  bool listingPieceSent_ = false;
  ISessionHost::TimerId waitTimer_ = 0;
  platform::UniqueFd storFile_;
  CUploadTarget storTarget_;  // what becomes of the file when the upload ends
  std::string storFilePath_;
  std::int64_t storOffset_ = 0;
  std::string storBuffer_;  // received upload bytes not yet written
  bool storFailed_ = false;
  std::int64_t dataBytesSeen_ = 0;

  bool epsvAll_ = false;     // EPSV ALL: no other way to set up data connections
  unsigned mlstFacts_ = kAllFacts;  // the facts OPTS MLST chose
  std::unique_ptr<ListingCursor> controlListing_;  // STAT of a path, being sent
  std::string repliesAfterListing_;  // replies due while it goes out

  std::string renameFromPath_;
  bool activityLogging_ = false;
  std::int32_t lastAccessTime_ = 0;
  std::chrono::steady_clock::time_point lastAccess_ = std::chrono::steady_clock::now();

  friend class CFTPSessions;
};

}  // namespace velto
