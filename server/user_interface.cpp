#include "server/user_interface.h"

#include <syslog.h>

#include <cstdio>

namespace velto {

int HeadlessUserInterface::ShowAppMessage(const std::string& text, int style, const std::string& title) {
  const std::string heading = title.empty() ? programName_ : title;
  std::fprintf(stderr, "%s: %s\n", heading.c_str(), text.c_str());
  std::fflush(stderr);
  ::openlog(programName_.c_str(), LOG_PID, LOG_DAEMON);
  ::syslog((style & kMbStop) == kMbStop ? LOG_ERR : LOG_NOTICE, "%s", text.c_str());
  ::closelog();
  return (style & kMbYesNo) == kMbYesNo ? kIdNo : kIdOk;
}

}  // namespace velto
