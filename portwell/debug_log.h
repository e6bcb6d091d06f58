// CLog, the append-only text log of the component's debug lines, and the
// module-wide debug switch: debug logging is on when the file "Portwell.dbg"
// exists beside the library when an object is created, and every debug line
// is then appended to that same file.
#pragma once

#include "platform/fd.h"

#include <string>

namespace portwell {

class CLog {
 public:
  std::string LogFile;
  // Appends vsData and CR LF; a file that cannot be opened drops the line.
  void LogData(const std::string& vsData);

 private:
  platform::UniqueFd file_;
};

// Looks for "Portwell.dbg" in `folder` and switches the debug log on or off.
void InitDebugLog(const std::string& folder);
// Drops gobjPortwellDbg (the debug log object); debug stays off afterwards.
void DropDebugLog();
bool DebugOn();
void DebugLine(const std::string& line);

// Seconds since midnight, as the window procedure's error lines show it.
std::string SecondsSinceMidnight();

}  // namespace portwell

// Formats the line only when debug logging is on.
#define PWL_DEBUG(text)                                       \
  do {                                                        \
    if (::portwell::DebugOn()) ::portwell::DebugLine(text);   \
  } while (0)
