// The running server's process id, in Velto.pid beside the executable: how
// the account tool finds the server to tell it to read the user file again.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace velto {

inline constexpr const char* kPidFileName = "Velto.pid";

// Writes this process's id into the folder's pid file; the file goes again
// when the object does, unless another server has written its own id since.
class PidFile {
 public:
  explicit PidFile(const std::string& folder);
  ~PidFile();
  PidFile(const PidFile&) = delete;
  PidFile& operator=(const PidFile&) = delete;

  // Whether the file was written; Error() says why not.
  bool Written() const { return written_; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string error_;
  bool written_ = false;
};

// What the folder's pid file says about a server running from that folder.
struct RunningServer {
  enum class State {
    None,     // no file, or it names no live process, or another program
    Running,  // a live process whose executable lies in the folder
    Unknown,  // a live process this user may not inspect
  };
  State state = State::None;
  pid_t pid = 0;
};

RunningServer FindRunningServer(const std::string& folder);

}  // namespace velto
