#include "ftp/ftp_session.h"

#include "ftp/directory.h"
#include "ftp/ftp_sessions.h"
#include "ftp/replies.h"
#include "config/settings.h"
#include "server/globals.h"
#include "log/log_lines.h"

#include <cmath>
#include <ctime>

namespace velto {

namespace {

constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 0;
constexpr int kVersionRevision = 101;

using reply::Line;

std::int32_t SecondsSinceMidnight() {
  std::timespec now{};
  std::timespec_get(&now, TIME_UTC);
  std::tm local{};
  const std::time_t t = now.tv_sec;
  ::localtime_r(&t, &local);
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + now.tv_nsec / 1e9;
  return static_cast<std::int32_t>(std::lround(seconds));
}

}  // namespace

// Verbs are compared exactly after parsing; the first match wins.
const CFTPSession::Verb CFTPSession::kVerbs[] = {
    {"USER", &CFTPSession::CmdUSER}, {"PASS", &CFTPSession::CmdPASS}, {"STOR", &CFTPSession::CmdSTOR},
    {"TYPE", &CFTPSession::CmdTYPE}, {"RETR", &CFTPSession::CmdRETR}, {"CWD", &CFTPSession::CmdCWD},
    {"CD", &CFTPSession::CmdCD},     {"CDUP", &CFTPSession::CmdCDUP}, {"MKD", &CFTPSession::CmdMKD},
    {"RMD", &CFTPSession::CmdRMD},   {"RNFR", &CFTPSession::CmdRNFR}, {"RNTO", &CFTPSession::CmdRNTO},
    {"DELE", &CFTPSession::CmdDELE}, {"PWD", &CFTPSession::CmdPWD},   {"XPWD", &CFTPSession::CmdPWD},
    {"SYST", &CFTPSession::CmdSYST}, {"NLST", &CFTPSession::CmdNLST}, {"LIST", &CFTPSession::CmdLIST},
    {"QUIT", &CFTPSession::CmdQUIT}, {"BYE", &CFTPSession::CmdQUIT},  {"PORT", &CFTPSession::CmdPORT},
    {"NOOP", &CFTPSession::CmdNOOP}, {"REST", &CFTPSession::CmdREST}, {"ABOR", &CFTPSession::CmdABOR},
    {"PASV", &CFTPSession::CmdPASV},
};

CFTPSession::CFTPSession(MGlobal& globals) : g_(globals), directory_(std::make_unique<CDirectory>()) {
  lastAccessTime_ = SecondsSinceMidnight();
}

CFTPSession::~CFTPSession() {
  if (waitTimer_ != 0) g_.loop.KillTimer(waitTimer_);
}

void CFTPSession::SetSocketHandle(const std::string& handle) {
  controlSocketHandle_ = handle;
  try {
    controlHandle_ = std::stoi(handle);
  } catch (const std::exception&) {
    controlHandle_ = 0;
  }
  directory_->HwndMain = HwndMain;
}

void CFTPSession::SetLoggedOn(bool on) {
  if (loggedOn_ && table_ != nullptr) table_->NoteLoggedOn(loggedOnAs_, false);
  loggedOn_ = on;
  loggedOnAs_ = on ? reply::LowerId(UserID) : std::string();
  if (loggedOn_ && table_ != nullptr) table_->NoteLoggedOn(loggedOnAs_, true);
}

bool CFTPSession::SameLoggedOnId(const std::string& id) const { return loggedOn_ && loggedOnAs_ == reply::LowerId(id); }

void CFTPSession::SetSocketHandleData(std::int32_t handle) {
  if (handle == socketHandleData_) return;
  if (table_ != nullptr) table_->NoteDataHandle(this, socketHandleData_, handle);
  socketHandleData_ = handle;
}

void CFTPSession::SetPendingConnect(std::int32_t handle) {
  if (handle == pendingConnect_) return;
  if (table_ != nullptr) table_->NotePendingConnect(this, pendingConnect_, handle);
  pendingConnect_ = handle;
}

std::string CFTPSession::DefaultDirectory() const { return directory_->DefaultDirectory(); }

void CFTPSession::SetDefaultDirectory(const std::string& directory) { directory_->SetDefaultDirectory(directory); }

double CFTPSession::IdleMilliseconds() const {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - lastAccess_).count();
}

std::string CFTPSession::StartSession() const {
  return Line("220 Brightmoor Technologies' Velto FTP Server. (Version " + std::to_string(kVersionMajor) + "." +
              std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision) + ").");
}

std::vector<ControlLineFramer::Line> CFTPSession::pReceive(std::string_view bytes) {
  return framer_.Feed(bytes);
}

std::string CFTPSession::pSubmitCommand(std::string_view vsCommand) {
  const ParsedCommand command = ParseCommand(vsCommand);
  std::string result;
  if (command.verb != "USER" && command.verb != "PASS" && !LoggedOn()) {
    ++logonAttempts_;
    if (logonAttempts_ >= MaxLogonAttempts()) {
      Disconnect();
    } else {
      result = Line(reply::kNotLoggedOn);
    }
  } else {
    result = Dispatch(command);
  }
  AfterCommand(vsCommand);
  return result;
}

std::string CFTPSession::Dispatch(const ParsedCommand& command) {
  for (const Verb& verb : kVerbs) {
    if (command.verb == verb.name) return (this->*verb.handler)(command);
  }
  return Line(reply::kNotImplemented);
}

std::int32_t CFTPSession::MaxLogonAttempts() const {
  // An empty or non-numeric setting counts as the default of 3.
  const auto parsed = ParseInt32(g_.gobjFTPSessions->MaxLogonAttempts);
  return parsed ? *parsed : 3;
}

void CFTPSession::AfterCommand(std::string_view block) {
  const CFTPUser* account = Account();
  if (account != nullptr && account->LogAccess && g_.gobjAccessLog && g_.gobjPortwell) {
    try {
      const auto info = g_.gobjPortwell->ItemByKey(controlSocketHandle_);
      // For an accepted socket the component reports the listening port as
      // RemotePort and the client's port as LocalPort.
      g_.gobjAccessLog->LogData(AccessLogLine(UserID, block, g_.ServerAddress(), info.RemoteHostIP,
                                              std::to_string(info.RemotePort & 0xFFFF),
                                              std::to_string(info.LocalPort & 0xFFFF)));
    } catch (const std::exception&) {
      // The connection is already gone; nothing to log against.
    }
  }
  lastAccessTime_ = SecondsSinceMidnight();
  lastAccess_ = std::chrono::steady_clock::now();
}

CFTPUser* CFTPSession::Account() const {
  if (!g_.gobjFTPUsers || !g_.gobjFTPUsers->pExists(UserID)) return nullptr;
  return &g_.gobjFTPUsers->ItemByKey(UserID);
}

void CFTPSession::SendReply(std::string_view text) { g_.SendText(controlHandle_, Line(text), "CFTPSession"); }

void CFTPSession::Disconnect() {
  if (closed_) return;
  closed_ = true;
  g_.CloseSocket(controlHandle_, false);
}

std::string CFTPSession::CmdSYST(const ParsedCommand&) { return Line(reply::kSyst); }

std::string CFTPSession::CmdNOOP(const ParsedCommand&) { return Line(reply::kOk); }

std::string CFTPSession::CmdQUIT(const ParsedCommand&) {
  SetLoggedOn(false);
  return Line("221 " + g_.gobjFTPSessions->BannerExit);
}

}  // namespace velto
