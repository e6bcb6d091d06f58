#include "server/pid_file.h"

#include "platform/fd.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace velto {

namespace {

std::optional<pid_t> ReadPid(const std::string& path) {
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  char text[32] = {};
  const long n = ::read(fd.get(), text, sizeof text - 1);
  if (n <= 0) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || value <= 0 || value > INT_MAX) return std::nullopt;
  return static_cast<pid_t>(value);
}

std::string FolderOf(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

}  // namespace

PidFile::PidFile(const std::string& folder) : path_(folder + kPidFileName) {
  const platform::UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) {
    error_ = std::strerror(errno);
    return;
  }
  const std::string text = std::to_string(::getpid()) + "\n";
  errno = 0;
  if (::write(fd.get(), text.data(), text.size()) != static_cast<long>(text.size())) {
    error_ = errno != 0 ? std::strerror(errno) : "short write";
    ::unlink(path_.c_str());
    return;
  }
  written_ = true;
}

PidFile::~PidFile() {
  if (written_ && ReadPid(path_) == ::getpid()) ::unlink(path_.c_str());
}

RunningServer FindRunningServer(const std::string& folder) {
  RunningServer found;
  const auto pid = ReadPid(folder + kPidFileName);
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
  found.state = FolderOf(std::string_view(exe, static_cast<std::size_t>(n))) == folder
                    ? RunningServer::State::Running
                    : RunningServer::State::None;
  return found;
}

}  // namespace velto
