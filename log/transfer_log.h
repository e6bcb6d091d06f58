// The transfer log: one line per finished or broken-off file transfer in
// the xferlog layout that the classic servers write, so the log analysers
// and ban tools made for them read it as it is.
#pragma once

#include "platform/fd.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace velto {

// One transfer as the line tells it.
struct TransferRecord {
  std::int64_t seconds = 0;  // how long it ran; the line says at least 1
  std::string remoteHost;    // the client's address
  std::int64_t bytes = 0;    // bytes that actually went over the data connection
  std::string path;          // the file as the client names it
  bool ascii = false;        // TYPE A (else binary)
  bool incoming = false;     // an upload (else a download)
  bool anonymous = false;
  std::string user;
  bool complete = false;     // else broken off: aborted, failed or the connection lost
};

// "<ctime> <seconds> <host> <bytes> <path> <a|b> _ <o|i> <a|r> <user> ftp 0 * <c|i>".
// The time is ctime(3)'s text without its newline, in English whatever the
// locale. A field never holds a blank, so the line splits on blanks: blanks
// in the path and the user become "_", and control bytes and bytes that are
// no UTF-8 are escaped as in the other logs (EscapeControls).
std::string TransferLogLine(const TransferRecord& record, const std::tm& when);
std::string TransferLogLine(const TransferRecord& record);

// The file, opened for append and written a line per write(2), so nothing
// waits in memory between transfers and concurrent writers do not mix lines.
class CTransferLog {
 public:
  // Closes any file open and opens `path`; 0, or the errno of the failed
  // open (nothing is logged until a later open works). An empty path is no
  // log and no error.
  int Open(std::string path);
  // Opens the same path anew (after a rotation moved the old file away).
  int Reopen() { return Open(path_); }
  bool IsOpen() const { return static_cast<bool>(file_); }
  const std::string& Path() const { return path_; }
  // Appends `line` and a line feed; false when no file is open or the
  // write failed.
  bool Write(std::string_view line);

 private:
  std::string path_;
  platform::UniqueFd file_;
};

}  // namespace velto
