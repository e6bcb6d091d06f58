#include "log/transfer_log.h"

#include "log/log_lines.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace velto {

namespace {

// A field that splits on blanks: escaped as the other logs escape client
// text, then blanks made "_" as the classic servers do; never empty.
std::string Field(std::string_view text) {
  std::string out = EscapeControls(text);
  for (char& c : out) {
    if (c == ' ') c = '_';
  }
  return out.empty() ? std::string("-") : out;
}

// ctime(3)'s "Www Mmm dd hh:mm:ss yyyy" with the day padded by a blank,
// spelled out here because strftime's names follow the locale.
std::string CtimeText(const std::tm& when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* day = when.tm_wday >= 0 && when.tm_wday < 7 ? kDays[when.tm_wday] : "???";
  const char* month = when.tm_mon >= 0 && when.tm_mon < 12 ? kMonths[when.tm_mon] : "???";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s %s %2d %02d:%02d:%02d %d", day, month, when.tm_mday, when.tm_hour,
                when.tm_min, when.tm_sec, when.tm_year + 1900);
  return buffer;
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) gmtime_r(&now, &local);
  return local;
}

}  // namespace

std::string TransferLogLine(const TransferRecord& record, const std::tm& when) {
  std::string line = CtimeText(when);
  line += ' ';
  line += std::to_string(record.seconds < 1 ? 1 : record.seconds);
  line += ' ';
  line += Field(record.remoteHost);
  line += ' ';
  line += std::to_string(record.bytes < 0 ? 0 : record.bytes);
  line += ' ';
  line += Field(record.path);
  line += record.ascii ? " a" : " b";
  line += " _";
  line += record.incoming ? " i" : " o";
  line += record.anonymous ? " a " : " r ";
  line += Field(record.user);
  line += " ftp 0 *";
  line += record.complete ? " c" : " i";
  return line;
}

std::string TransferLogLine(const TransferRecord& record) { return TransferLogLine(record, LocalNow()); }

int CTransferLog::Open(std::string path) {
  file_.reset();
  path_ = std::move(path);
  if (path_.empty()) return 0;
  file_ = platform::UniqueFd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
  return file_ ? 0 : errno;
}

bool CTransferLog::Write(std::string_view line) {
  if (!file_) return false;
  std::string entry;
  entry.reserve(line.size() + 1);
  entry += line;
  entry += '\n';
  std::size_t done = 0;
  while (done < entry.size()) {
    const ssize_t n = ::write(file_.get(), entry.data() + done, entry.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace velto
