#include "ftp/ftp_session.h"

#include "config/settings.h"
#include "ftp/directory.h"
#include "ftp/ftp_sessions.h"
#include "ftp/listing.h"
#include "ftp/replies.h"
#include "log/clog.h"
#include "log/log_lines.h"
#include "users/ftp_users.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

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
    {"USER", &CFTPSession::CmdUSER, true},
    {"PASS", &CFTPSession::CmdPASS, true},
    {"STOR", &CFTPSession::CmdSTOR},
    {"TYPE", &CFTPSession::CmdTYPE},
    {"RETR", &CFTPSession::CmdRETR},
    {"CWD", &CFTPSession::CmdCWD},
    {"CD", &CFTPSession::CmdCD},
    {"CDUP", &CFTPSession::CmdCDUP},
    {"MKD", &CFTPSession::CmdMKD},
    {"RMD", &CFTPSession::CmdRMD},
    {"RNFR", &CFTPSession::CmdRNFR},
    {"RNTO", &CFTPSession::CmdRNTO},
    {"DELE", &CFTPSession::CmdDELE},
    {"PWD", &CFTPSession::CmdPWD},
    {"XPWD", &CFTPSession::CmdPWD},
    {"SYST", &CFTPSession::CmdSYST, true},
    {"NLST", &CFTPSession::CmdNLST},
    {"LIST", &CFTPSession::CmdLIST},
    {"QUIT", &CFTPSession::CmdQUIT, true},
    {"BYE", &CFTPSession::CmdQUIT, true},
    {"PORT", &CFTPSession::CmdPORT},
    {"NOOP", &CFTPSession::CmdNOOP, true},
    {"REST", &CFTPSession::CmdREST},
    {"ABOR", &CFTPSession::CmdABOR},
    {"PASV", &CFTPSession::CmdPASV},
    // What current clients expect beyond the classic set.
    {"FEAT", &CFTPSession::CmdFEAT, true},
    {"HELP", &CFTPSession::CmdHELP, true},
    {"OPTS", &CFTPSession::CmdOPTS, true},
    {"CLNT", &CFTPSession::CmdNOOP, true},
    {"AUTH", &CFTPSession::CmdAUTH, true, true},
    {"PBSZ", &CFTPSession::CmdPBSZ, true, true},
    {"PROT", &CFTPSession::CmdPROT, true, true},
    {"CCC", &CFTPSession::CmdCCC, true, true},
    {"STAT", &CFTPSession::CmdSTAT},
    {"MODE", &CFTPSession::CmdMODE},
    {"STRU", &CFTPSession::CmdSTRU},
    {"ALLO", &CFTPSession::CmdALLO},
    {"SIZE", &CFTPSession::CmdSIZE},
    {"MDTM", &CFTPSession::CmdMDTM},
    {"MFMT", &CFTPSession::CmdMFMT},
    {"SITE", &CFTPSession::CmdSITE},
    {"EPSV", &CFTPSession::CmdEPSV},
    {"EPRT", &CFTPSession::CmdEPRT},
    {"APPE", &CFTPSession::CmdAPPE},
    {"STOU", &CFTPSession::CmdSTOU},
    {"MLSD", &CFTPSession::CmdMLSD},
    {"MLST", &CFTPSession::CmdMLST},
    {"XMKD", &CFTPSession::CmdMKD},
    {"XRMD", &CFTPSession::CmdRMD},
    {"XCWD", &CFTPSession::CmdCWD},
    {"XCUP", &CFTPSession::CmdCDUP},
};

const CFTPSession::Verb* CFTPSession::FindVerb(const std::string& name) {
  for (const Verb& verb : kVerbs) {
    if (name == verb.name) return &verb;
  }
  return nullptr;
}

CFTPSession::CFTPSession(CFTPSessions& table, std::unique_ptr<ISessionHost> host, ConnectionInfo info)
    : table_(table), host_(std::move(host)), info_(std::move(info)), directory_(std::make_unique<CDirectory>()) {
  lastAccessTime_ = SecondsSinceMidnight();
  ArmLogonTimer();
  if (info_.implicitTls) {
    // The handshake came before the greeting: the client takes PBSZ 0 and
    // PROT P as done.
    controlSecured_ = true;
    pbszDone_ = true;
    dataProtected_ = true;
    host_->SetDataProtection(true);
  }
}

void CFTPSession::ArmLogonTimer() {
  // A connection that does not log on in time gives its place back.
  if (Options().LogonTimeout <= 0 || logonTimer_ != 0) return;
  logonTimer_ = StartTimer(static_cast<std::uint32_t>(Options().LogonTimeout), [this] {
    logonTimer_ = 0;
    if (LoggedOn() || closed_) return;
    SendReply(reply::kLogonTimeout);
    Disconnect();
  });
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
  const std::int64_t taken = host_->DataBytesTaken();
  if (taken != dataBytesSeen_) {
    dataBytesSeen_ = taken;
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
  for (auto& line : framer_.Feed(bytes)) {
    // The activity window shows each line as it came, and never a password
    // (decided on the parsed command, as for the access log, so a line that
    // came in pieces is masked all the same).
    if (ActivityLogging()) {
      const std::size_t end = line.text.find_first_of("\r\n");
      ActivityUpdate(ParseCommand(line.text).verb == "PASS"
                         ? "PASS ****" + line.text.substr(end == std::string::npos ? line.text.size() : end)
                         : line.text);
    }
    queued_.push_back(std::move(line));
  }
  // A session held with its input read on (to see the client leave) stops
  // reading a client that sends much meanwhile.
  if (held_ && queued_.size() > kMaxLinesWhileHeld) host_->HoldInput(true);
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

void CFTPSession::Hold(bool pauseInput) {
  if (held_) return;
  held_ = true;
  if (pauseInput) host_->HoldInput(true);
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
  if (controlListing_) {
    SendControlListing();
    return;
  }
  Release();
}

void CFTPSession::OnControlClosed() {
  closed_ = true;
  queued_.clear();
  table_.NoteClosing(*this);
}

std::string CFTPSession::pSubmitCommand(std::string_view vsCommand) {
  const ParsedCommand command = ParseCommand(vsCommand);
  const Verb* verb = FindVerb(command.verb);
  // CCC came with TLS: a server without it does not know the word.
  if (verb != nullptr && verb->handler == &CFTPSession::CmdCCC && !TlsOffered()) verb = nullptr;
  std::string result;
  if (!LoggedOn() && (verb == nullptr || !verb->open)) {
    ++logonAttempts_;
    if (logonAttempts_ >= MaxLogonAttempts()) {
      RefuseLogon(true);
    } else {
      result = Line(reply::kNotLoggedOn);
    }
  } else if (verb == nullptr) {
    result = Line(reply::kNotImplemented);
  } else {
    result = (this->*verb->handler)(command);
  }
  AfterCommand(command, vsCommand);
  return result;
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
  if (closed_) return;
  // Nothing may land among the lines of a STAT reply going out in pieces:
  // what happens meanwhile (a transfer ending) is told after its last line.
  if (controlListing_) {
    repliesAfterListing_ += Line(text);
    return;
  }
  host_->Send(Line(text));
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

// ---- status and negotiation ----------------------------------------------------

std::string CFTPSession::CmdSYST(const ParsedCommand&) { return Line(reply::kSyst); }

std::string CFTPSession::CmdNOOP(const ParsedCommand&) { return Line(reply::kOk); }

std::string CFTPSession::CmdQUIT(const ParsedCommand&) {
  SetLoggedOn(false);
  return Line("221 " + Options().BannerExit);
}

std::string CFTPSession::CmdFEAT(const ParsedCommand&) {
  // Exactly the extensions this server implements.
  std::string facts;
  for (const FactName& f : kFactNames) facts += std::string(f.name) + ((mlstFacts_ & f.fact) ? "*;" : ";");
  const bool tls = host_->TlsAvailable();
  return std::string("211-Features:\r\n") + (tls ? " AUTH TLS\r\n" : "") +
         " CLNT\r\n"
         " EPRT\r\n"
         " EPSV\r\n"
         " MDTM\r\n"
         " MFMT\r\n"
         " MLST " + facts + "\r\n" + (tls ? " PBSZ\r\n PROT\r\n" : "") +
         " REST STREAM\r\n"
         " SIZE\r\n"
         " UTF8\r\n" +
         Line("211 End");
}

std::string CFTPSession::CmdHELP(const ParsedCommand&) {
  std::vector<std::string> names;
  const bool tls = host_->TlsAvailable();
  for (const Verb& verb : kVerbs) {
    if (!verb.tls || tls) names.emplace_back(verb.name);
  }
  std::sort(names.begin(), names.end());
  std::string text = "214-The following commands are recognized:\r\n";
  for (std::size_t i = 0; i < names.size(); i += 10) {
    std::string line;
    for (std::size_t k = i; k < std::min(names.size(), i + 10); ++k) line += " " + names[k];
    text += Line(line);
  }
  return text + Line("214 Help OK.");
}

std::string CFTPSession::CmdOPTS(const ParsedCommand& command) {
  const std::string& arg = command.argument;
  const std::size_t space = arg.find(' ');
  const std::string name = UpperAscii(arg.substr(0, space));
  const std::size_t valueAt = space == std::string::npos ? space : arg.find_first_not_of(' ', space);
  const std::string value = valueAt == std::string::npos ? std::string() : arg.substr(valueAt);
  if (name == "UTF8" || name == "UTF-8") {
    // Names are passed on as bytes: UTF-8 works as it is.
    if (value.empty() || UpperAscii(value) == "ON") return Line(reply::kOk);
    return Line(reply::kSyntaxMissingOrIncorrect);
  }
  if (name == "MLST") {
    unsigned chosen = 0;
    std::string shown;
    std::size_t start = 0;
    while (start < value.size()) {
      std::size_t end = value.find(';', start);
      if (end == std::string::npos) end = value.size();
      const std::string fact = UpperAscii(value.substr(start, end - start));
      for (const FactName& f : kFactNames) {
        if (fact == UpperAscii(f.name) && !(chosen & f.fact)) {
          chosen |= f.fact;
          shown += std::string(f.name) + ";";
        }
      }
      start = end + 1;
    }
    mlstFacts_ = chosen;
    return Line("200 MLST OPTS " + shown);
  }
  return Line(reply::kSyntaxMissingOrIncorrect);
}

std::string CFTPSession::CmdSTAT(const ParsedCommand& command) {
  if (!command.argument.empty()) return StatPath(command.argument);
  std::string text = "211-Velto FTP server status:\r\n";
  text += Line(" Connected to " + (info_.localAddress.empty() ? info_.serverAddress : info_.localAddress) +
               " from " + info_.clientAddress);
  text += Line(" Logged in as " + UserID);
  text += Line(std::string(" TYPE: ") + (TypeMode == "A" ? "ASCII" : "BINARY") + "; STRUcture: File; MODE: Stream");
  text += Line(active_.kind != Transfer::Kind::None    ? " A transfer is running"
               : pending_.kind != Transfer::Kind::None ? " A transfer waits for its data connection"
                                                       : " No data connection");
  return text + Line("211 End of status.");
}

std::string CFTPSession::CmdMODE(const ParsedCommand& command) {
  return Line(UpperAscii(command.argument) == "S" ? reply::kOk : reply::kNotImplemented);
}

std::string CFTPSession::CmdSTRU(const ParsedCommand& command) {
  return Line(UpperAscii(command.argument) == "F" ? reply::kOk : reply::kNotImplemented);
}

std::string CFTPSession::CmdALLO(const ParsedCommand&) { return Line(reply::kNoStorageNeeded); }

}  // namespace velto
