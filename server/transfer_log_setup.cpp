// The log files: the transfer log TransferLogFile names, opened at start,
// and every log opened again on SIGHUP, so a rotation that moved them away
// gets new files at the same paths.
#include "config/settings.h"
#include "log/transfer_log.h"
#include "server/main_window.h"

#include <syslog.h>

#include <cstdio>
#include <cstring>

namespace velto {

void FMain::OpenTransferLog(bool reopen) {
  if (!g_.gobjTransferLog) return;
  CTransferLog& log = *g_.gobjTransferLog;
  int error = 0;
  if (reopen) {
    error = log.Reopen();
  } else {
    // A relative name is taken from the log folder, beside Access.log and
    // Errors.log: the service runs from /.
    std::string name = g_.gobjIni ? ReadSettingText(*g_.gobjIni, Setting::TransferLogFile) : std::string();
    if (!name.empty() && name.front() != '/') name = g_.LogPath() + name;
    error = log.Open(std::move(name));
  }
  if (error == 0) return;
  const std::string text = "cannot open the transfer log " + log.Path() + " (" + std::strerror(error) +
                           "); transfers are not logged until it can be opened (SIGHUP tries again)";
  std::fprintf(stderr, "velto: %s\n", text.c_str());
  g_.LogError(error, text, reopen ? "ReopenTransferLog" : "Form_Load");
}

void FMain::ReopenLogs() {
  // The error log first: a failure of the access log is written there.
  for (CLog* log : {g_.gobjErrorLog.get(), g_.gobjAccessLog.get()}) {
    if (log == nullptr) continue;
    const int error = log->Reopen();
    if (error == 0) continue;
    // The old file goes on taking the entries.
    const std::string text = "cannot open " + log->LogFile() + " anew (" + std::strerror(error) +
                             "); entries still go to the file it had open";
    std::fprintf(stderr, "velto: %s\n", text.c_str());
    ::syslog(LOG_ERR, "%s", text.c_str());
  }
  OpenTransferLog(true);
}

}  // namespace velto
