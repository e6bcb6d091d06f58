#include "portwell/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace portwell {

namespace {
std::unique_ptr<CLog>& gobjPortwellDbg() {
  static std::unique_ptr<CLog> log;
  return log;
}
}  // namespace

void CLog::LogData(const std::string& vsData) {
  if (!file_) file_ = platform::UniqueFd(::open(LogFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!file_) return;
  // One write per line, so lines from several writers do not interleave.
  char crlf[2] = {'\r', '\n'};
  iovec parts[2] = {{const_cast<char*>(vsData.data()), vsData.size()}, {crlf, 2}};
  [[maybe_unused]] const auto written = ::writev(file_.get(), parts, 2);
}

void InitDebugLog(const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += "Portwell.dbg";
  struct stat st {};
  auto& log = gobjPortwellDbg();
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    log = std::make_unique<CLog>();
    log->LogFile = path;
  } else {
    log.reset();
  }
}

void DropDebugLog() { gobjPortwellDbg().reset(); }

bool DebugOn() { return gobjPortwellDbg() != nullptr; }

void DebugLine(const std::string& line) {
  if (auto& log = gobjPortwellDbg()) log->LogData(line);
}

std::string SecondsSinceMidnight() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  ::localtime_r(&t, &local);
  const double fraction =
      std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(t)).count();
  char text[32];
  std::snprintf(text, sizeof text, "%.2f",
                local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction);
  return text;
}

}  // namespace portwell
