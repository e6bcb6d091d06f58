#include "log/clog.h"

#include <cerrno>
#include <errno.h>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

namespace velto {

namespace {

// openlog keeps the pointer it is given, so the identity lives here for the
// whole process; the system log is process-wide, so the last registration
// names every entry.
struct SystemLogIdentity {
  std::string name;
  int users = 0;
};

SystemLogIdentity& Identity() {
  static SystemLogIdentity identity;
  return identity;
}

int SyslogPriority(std::uint16_t eventType) {
  switch (eventType) {
    case CLog::kEventError:
      return LOG_ERR;
    case CLog::kEventWarning:
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

}  // namespace

CLog::~CLog() { CloseEventSource(); }

void CLog::SetLogFile(std::string path) {
  if (path != logFile_) file_.reset();
  logFile_ = std::move(path);
}

int CLog::Reopen() {
  if (!file_ || logFile_.empty()) return 0;
  platform::UniqueFd fresh(::open(logFile_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fresh) return errno;
  file_ = std::move(fresh);
  return 0;
}

bool CLog::LogData(std::string_view vsData, std::int32_t vnPendingError) {
  bool ok = true;
  if (LogMode == kModeFile || LogMode == kModeBoth) ok = WriteToFile(vsData) && ok;
  if (LogMode == kModeEventLog || LogMode == kModeBoth) {
    ok = LogEventNT(vsData, vnPendingError, vnPendingError != 0 ? kEventError : kEventInformation) && ok;
  }
  return ok;
}

bool CLog::WriteToFile(std::string_view data) {
  if (!file_) {
    if (logFile_.empty()) return false;
    file_ = platform::UniqueFd(::open(logFile_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!file_) return false;
  }
  std::string entry;
  entry.reserve(data.size() + 2);
  entry += data;
  entry += "\r\n";
  // One write per entry where the system allows it, so entries do not
  // interleave with another writer's.
  std::size_t done = 0;
  while (done < entry.size()) {
    const ssize_t n = ::write(file_.get(), entry.data() + done, entry.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool CLog::LogEventNTInitialize(std::string_view vsName) {
  if (vsName.empty()) return false;
  eventAppName_ = std::string(vsName);
  SystemLogIdentity& identity = Identity();
  identity.name = eventAppName_;
  ::openlog(identity.name.c_str(), LOG_PID, LOG_DAEMON);
  if (!eventSourceRegistered_) {
    eventSourceRegistered_ = true;
    ++identity.users;
  }
  return true;
}

bool CLog::LogEventNT(std::string_view vsDescription, std::int32_t vnEventId, std::uint16_t vnEventType) {
  (void)vnEventId;  // the description already carries the number where it matters
  if (!eventSourceRegistered_ && !LogEventNTInitialize(program_invocation_short_name)) return false;
  const std::string text(vsDescription);
  ::syslog(LOG_DAEMON | SyslogPriority(vnEventType), "%s", text.c_str());
  return true;
}

void CLog::CloseEventSource() {
  if (!eventSourceRegistered_) return;
  eventSourceRegistered_ = false;
  SystemLogIdentity& identity = Identity();
  if (--identity.users == 0) ::closelog();
}

}  // namespace velto
