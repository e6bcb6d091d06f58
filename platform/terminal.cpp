#include "platform/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>

namespace platform {

namespace {

// The terminal state to restore if a signal ends the process while echo is
// off; only touched with those signals' handlers installed.
int gEchoFd = -1;
termios gEchoState{};

extern "C" void RestoreEchoAndDie(int signo) {
  ::tcsetattr(gEchoFd, TCSANOW, &gEchoState);
  std::signal(signo, SIG_DFL);
  std::raise(signo);
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGTSTP};
constexpr std::size_t kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// Echo off while it lives.
class NoEcho {
 public:
  explicit NoEcho(int fd) : fd_(fd) {
    if (::tcgetattr(fd, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    gEchoFd = fd;
    gEchoState = saved_;
    for (std::size_t i = 0; i < kEndingSignalCount; ++i) {
      previous_[i] = std::signal(kEndingSignals[i], RestoreEchoAndDie);
    }
    handlersInstalled_ = true;
    echoOff_ = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
  }
  ~NoEcho() {
    if (echoOff_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    if (!handlersInstalled_) return;
    for (std::size_t i = 0; i < kEndingSignalCount; ++i) std::signal(kEndingSignals[i], previous_[i]);
    gEchoFd = -1;
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  using Handler = void (*)(int);
  int fd_;
  termios saved_{};
  Handler previous_[kEndingSignalCount] = {};
  bool handlersInstalled_ = false;
  bool echoOff_ = false;
};

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const long n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Byte by byte, so nothing after the line is taken from the descriptor.
std::optional<std::string> ReadLine(int fd) {
  std::string line;
  for (;;) {
    char c = 0;
    const long n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) {
      if (line.empty()) return std::nullopt;
      break;
    }
    if (c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

std::optional<std::string> ReadSecretLine(int fd, const std::string& prompt) {
  if (!IsTerminal(fd)) return ReadLine(fd);
  WriteAll(STDERR_FILENO, prompt);
  std::optional<std::string> line;
  {
    const NoEcho quiet(fd);
    line = ReadLine(fd);
  }
  // The Enter the user typed was not echoed.
  WriteAll(STDERR_FILENO, "\n");
  return line;
}

}  // namespace platform
