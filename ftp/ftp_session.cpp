#include "ftp/ftp_session.h"

#include "config/settings.h"
#include "ftp/directory.h"
#include "ftp/ftp_sessions.h"
#include "ftp/listing.h"
#include "ftp/replies.h"
#include "log/clog.h"
#include "log/log_lines.h"
#include "users/ftp_users.h"

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

CFTPSession::CFTPSession(CFTPSessions& table, std::unique_ptr<ISessionHost> host, ConnectionInfo info)
    : table_(table), host_(std::move(host)), info_(std::move(info)), directory_(std::make_unique<CDirectory>()) {
  lastAccessTime_ = SecondsSinceMidnight();
  // A connection that does not log on in time gives its place back.
  if (Options().LogonTimeout > 0) {
    logonTimer_ = StartTimer(static_cast<std::uint32_t>(Options().LogonTimeout), [this] {
      logonTimer_ = 0;
      if (LoggedOn() || closed_) return;
      SendReply(reply::kLogonTimeout);
      Disconnect();
    });
  }
}

CFTPSession::~CFTPSession() {
  Close();
  StopTimer(logonTimer_);
  StopTimer(replyTimer_);
}

const SessionOptions& CFTPSession::Options() const { return table_.Options(); }

ISessionHost::TimerId CFTPSession::StartTimer(std::uint32_t ms, std::function<void()> callback) {
  std::weak_ptr<char> alive = alive_;
  return host_->StartTimer(ms, [alive, callback = std::move(callback)] {
    if (!alive.expired()) callback();
  });
}

void CFTPSession::StopTimer(ISessionHost::TimerId& id) {
  if (id != 0) host_->StopTimer(id);
  id = 0;
}

void CFTPSession::SetLoggedOn(bool on) {
  if (loggedOn_ == on && (!on || loggedOnAs_ == reply::LowerId(UserID))) return;
  if (loggedOn_) table_.NoteLoggedOn(*this, false);
  loggedOn_ = on;
  loggedOnAs_ = on ? reply::LowerId(UserID) : std::string();
  if (loggedOn_) table_.NoteLoggedOn(*this, true);
}

bool CFTPSession::SameLoggedOnId(const std::string& id) const { return loggedOn_ && loggedOnAs_ == reply::LowerId(id); }

std::string CFTPSession::DefaultDirectory() const { return directory_->DefaultDirectory(); }

void CFTPSession::SetDefaultDirectory(const std::string& directory) { directory_->SetDefaultDirectory(directory); }

double CFTPSession::IdleMilliseconds() const {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - lastAccess_).count();
}

void CFTPSession::NoteDataTraffic() {
  const std::int64_t sent = host_->DataBytesSent();
  if (sent != dataBytesSeen_) {
    dataBytesSeen_ = sent;
    lastAccess_ = std::chrono::steady_clock::now();
  }
}

std::string CFTPSession::StartSession() const {
  return Line("220 Brightmoor Technologies' Velto FTP Server. (Version " + std::to_string(kVersionMajor) + "." +
              std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision) + ").");
}

void CFTPSession::ActivityUpdate(std::string_view text) {
  if (table_.Services().activity && !text.empty()) table_.Services().activity(*this, text);
}

void CFTPSession::ActivityClear() {
  if (table_.Services().activity) table_.Services().activity(*this, {});
}

// ---- the control connection ----------------------------------------------------

void CFTPSession::OnControlData(std::string_view bytes) {
  if (closed_) return;
  if (ActivityLogging()) ActivityUpdate(bytes);
  for (auto& line : framer_.Feed(bytes)) queued_.push_back(std::move(line));
  RunQueued();
}

void CFTPSession::RunQueued() {
  // A command may pump the loop or call back; the outer run goes on.
  if (running_) return;
  running_ = true;
  while (!queued_.empty() && !closed_ && !held_) {
    if (host_->Backlogged()) {
      // The client does not read its replies: take nothing more from it
      // until they have gone.
      waitingForDrain_ = true;
      Hold();
      break;
    }
    ControlLineFramer::Line line = std::move(queued_.front());
    queued_.pop_front();
    const std::string reply = line.tooLong ? Line(reply::kLineTooLong) : pSubmitCommand(line.text);
    if (!reply.empty() && !closed_) host_->Send(reply);
  }
  running_ = false;
}

void CFTPSession::Hold() {
  if (held_) return;
  held_ = true;
  host_->HoldInput(true);
}

void CFTPSession::Release() {
  if (!held_ || closed_) return;
  held_ = false;
  host_->HoldInput(false);
  RunQueued();
}

void CFTPSession::OnControlDrained() {
  if (!waitingForDrain_) return;
  waitingForDrain_ = false;
  Release();
}

void CFTPSession::OnControlClosed() {
  closed_ = true;
  queued_.clear();
  table_.NoteClosing(*this);
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
  AfterCommand(command, vsCommand);
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
  const auto parsed = ParseInt32(Options().MaxLogonAttempts);
  return parsed ? *parsed : 3;
}

void CFTPSession::AfterCommand(const ParsedCommand& command, std::string_view block) {
  // The account named by USER is logged whether or not it logged on, so
  // failed log-ons leave their lines too. Whatever the spelling that made
  // the parser take a line as PASS, its argument never reaches the file.
  CLog* log = table_.Services().accessLog;
  CFTPUsers* users = table_.Services().users;
  if (log != nullptr && users != nullptr && !UserID.empty() && users->pExists(UserID) &&
      users->ItemByKey(UserID).LogAccess) {
    const std::string text = command.verb == "PASS" ? std::string("PASS ****") : std::string(block);
    log->LogData(AccessLogLine(UserID, text, info_.serverAddress, info_.clientAddress,
                               std::to_string(info_.serverPort), std::to_string(info_.clientPort)));
  }
  lastAccessTime_ = SecondsSinceMidnight();
  lastAccess_ = std::chrono::steady_clock::now();
}

CFTPUser* CFTPSession::Account() const {
  CFTPUsers* users = table_.Services().users;
  if (!loggedOn_ || users == nullptr || !users->pExists(UserID)) return nullptr;
  return &users->ItemByKey(UserID);
}

void CFTPSession::SendReply(std::string_view text) {
  if (!closed_) host_->Send(Line(text));
}

void CFTPSession::Disconnect() {
  if (closed_) return;
  closed_ = true;
  queued_.clear();
  table_.NoteClosing(*this);
  host_->CloseControl();
}

void CFTPSession::TimeOut() {
  if (closed_) return;
  SendReply(reply::kTimeout);
  Disconnect();
}

std::string CFTPSession::CmdSYST(const ParsedCommand&) { return Line(reply::kSyst); }

std::string CFTPSession::CmdNOOP(const ParsedCommand&) { return Line(reply::kOk); }

std::string CFTPSession::CmdQUIT(const ParsedCommand&) {
  SetLoggedOn(false);
  return Line("221 " + Options().BannerExit);
}

}  // namespace velto
