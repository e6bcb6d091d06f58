// The running server's process id, in Velto.pid in the data folder: how
// the account tool finds the server to tell it to read the user file again,
// and how a second server in the same folder learns that one runs.
#pragma once

#include "platform/fd.h"

#include <sys/types.h>

#include <optional>
#include <string>

namespace velto {

inline constexpr const char* kPidFileName = "Velto.pid";

// Claims the folder's pid file for this process: it writes this process's
// id and holds a lock on the file while the object lives; the file goes
// again with the object. A file whose lock a live server holds is left
// alone (Held); one nobody holds (its process ended, or the id now names
// another program) is taken over.
class PidFile {
 public:
  explicit PidFile(const std::string& folder);
  ~PidFile();
  PidFile(const PidFile&) = delete;
  PidFile& operator=(const PidFile&) = delete;

  // Another server holds the file; HolderPid is its id (0 when unreadable).
  bool Held() const { return held_; }
  pid_t HolderPid() const { return holderPid_; }
  // Whether this process's id was written; Error() says why not.
  bool Written() const { return written_; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  // One attempt; false when the file changed under it (another server
  // removed or replaced it meanwhile), so it is worth another.
  bool TryClaim();

  std::string path_;
  std::string error_;
  platform::UniqueFd fd_;
  bool held_ = false;
  pid_t holderPid_ = 0;
  bool written_ = false;
};

// What the data folder's pid file says about a server running on it.
struct RunningServer {
  enum class State {
    None,     // no file, or it names no live process, or another program
    Running,  // a live process whose executable lies in the program's folder
    Unknown,  // a live process this user may not inspect
  };
  State state = State::None;
  pid_t pid = 0;
};

// `programFolder` is where the program's executable lies: an id that now
// names another program is no server.
RunningServer FindRunningServer(const std::string& dataFolder, const std::string& programFolder);

}  // namespace velto
