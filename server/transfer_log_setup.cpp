// The transfer log: the file TransferLogFile names, opened at start and
// again on SIGHUP, so a rotation that moved it away gets a new one.
#include "config/settings.h"
#include "log/transfer_log.h"
#include "server/main_window.h"

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
    // A relative name is taken from the program's folder, beside
    // Access.log and Errors.log: the service runs from /.
    std::string name = g_.gobjIni ? ReadSettingText(*g_.gobjIni, Setting::TransferLogFile) : std::string();
    if (!name.empty() && name.front() != '/') name = g_.gsAppPath + name;
    error = log.Open(std::move(name));
  }
  if (error == 0) return;
  const std::string text = "cannot open the transfer log " + log.Path() + " (" + std::strerror(error) +
                           "); transfers are not logged until it can be opened (SIGHUP tries again)";
  std::fprintf(stderr, "velto: %s\n", text.c_str());
  g_.LogError(error, text, reopen ? "ReopenTransferLog" : "Form_Load");
}

}  // namespace velto
