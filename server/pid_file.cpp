#include "server/pid_file.h"

#include "platform/fd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace velto {

namespace {

std::optional<pid_t> PidIn(int fd) {
  char text[32] = {};
  const long n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || value <= 0 || value > INT_MAX) return std::nullopt;
  return static_cast<pid_t>(value);
}

std::optional<pid_t> ReadPid(const std::string& path) {
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  return PidIn(fd.get());
}

// The descriptor is still the file the path names (nobody removed or
// replaced it since it was opened).
bool StillNamed(int fd, const std::string& path) {
  struct stat opened{};
  struct stat named{};
  return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

std::string FolderOf(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

}  // namespace

PidFile::PidFile(const std::string& folder) : path_(folder + kPidFileName) {
  // A server that ends between our open and our lock removes the file we
  // locked; a few attempts see the folder settle.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (TryClaim()) return;
  }
  error_ = "it keeps being replaced";
}

bool PidFile::TryClaim() {
  bool writable = true;
  platform::UniqueFd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd && errno == EACCES) {
    // Another user's file (a service's): its lock still tells whether it
    // is in use.
    writable = false;
    fd = platform::UniqueFd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  }
  if (!fd) {
    error_ = std::strerror(errno);
    return true;
  }
  // The lock lives as long as its server: it goes with the process however
  // that ends, so a file nobody holds is stale whatever id it names.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      error_ = std::strerror(errno);
      return true;
    }
    held_ = true;
    holderPid_ = PidIn(fd.get()).value_or(0);
    return true;
  }
  if (!StillNamed(fd.get(), path_)) return false;
  if (!writable) {
    error_ = std::strerror(EACCES);
    return true;
  }
  const std::string text = std::to_string(::getpid()) + "\n";
  errno = 0;
  if (::ftruncate(fd.get(), 0) != 0 ||
      ::pwrite(fd.get(), text.data(), text.size(), 0) != static_cast<long>(text.size())) {
    error_ = errno != 0 ? std::strerror(errno) : "short write";
    ::unlink(path_.c_str());
    return true;
  }
  fd_ = std::move(fd);
  written_ = true;
  return true;
}

PidFile::~PidFile() {
  if (written_ && StillNamed(fd_.get(), path_)) ::unlink(path_.c_str());
}

RunningServer FindRunningServer(const std::string& dataFolder, const std::string& programFolder) {
  RunningServer found;
  const auto pid = ReadPid(dataFolder + kPidFileName);
  if (!pid || (::kill(*pid, 0) != 0 && errno != EPERM)) return found;
  found.pid = *pid;
  char exe[PATH_MAX + 1] = {};
  const long n = ::readlink(("/proc/" + std::to_string(*pid) + "/exe").c_str(), exe, PATH_MAX);
  if (n <= 0) {
    // Another user's process (a service run as root): it may be ours.
    found.state = errno == EACCES || errno == EPERM ? RunningServer::State::Unknown : RunningServer::State::None;
    return found;
  }
  // A rebuilt program shows its old file as "... (deleted)"; the folder is
  // what counts.
  found.state = FolderOf(std::string_view(exe, static_cast<std::size_t>(n))) == programFolder
                    ? RunningServer::State::Running
                    : RunningServer::State::None;
  return found;
}

}  // namespace velto
