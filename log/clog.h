// An append-only text log: one entry per LogData call, each ended by CR LF,
// to a file, to the system log (syslog, facility daemon), or to both.
#pragma once

#include "platform/fd.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velto {

class CLog {
 public:
  // Values of LogMode.
  static constexpr std::int32_t kModeFile = 0;
  static constexpr std::int32_t kModeEventLog = 1;
  static constexpr std::int32_t kModeBoth = 2;

  // Event types as the event log knows them.
  static constexpr std::uint16_t kEventError = 1;
  static constexpr std::uint16_t kEventWarning = 2;
  static constexpr std::uint16_t kEventInformation = 4;

  CLog() = default;
  ~CLog();
  CLog(const CLog&) = delete;
  CLog& operator=(const CLog&) = delete;

  std::int32_t LogMode = kModeFile;

  // Setting only stores the path; the file is opened by the first write.
  // A new path takes effect at once (the old file is closed).
  void SetLogFile(std::string path);
  const std::string& LogFile() const { return logFile_; }
  // Opens the path anew, so entries go to a new file once a rotation moved
  // the old one away. 0 when done (or nothing was open yet: the next write
  // opens the path); otherwise the errno, and the old file stays in use.
  int Reopen();

  // The identity used for the system log; empty until registered.
  const std::string& NTEventAppName() const { return eventAppName_; }

  // Writes one entry according to LogMode. `vnPendingError` is the error
  // number the caller is handling (0 when none): in the event-log modes it
  // becomes the event id and makes the entry an error rather than
  // information. False when the entry could not be written; a file that
  // cannot be opened is tried again on the next call.
  bool LogData(std::string_view vsData, std::int32_t vnPendingError = 0);

  // Registers `vsName` as the system-log identity. False for an empty name.
  bool LogEventNTInitialize(std::string_view vsName);

  // Reports one event; registers the program's own name first when nothing
  // is registered yet.
  bool LogEventNT(std::string_view vsDescription, std::int32_t vnEventId, std::uint16_t vnEventType);

 private:
  bool WriteToFile(std::string_view data);
  void CloseEventSource();

  std::string logFile_;
  platform::UniqueFd file_;
  std::string eventAppName_;
  bool eventSourceRegistered_ = false;
};

}  // namespace velto
