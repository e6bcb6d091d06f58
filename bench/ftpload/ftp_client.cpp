#include "ftp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ftpload {
namespace {

// A reply line longer than this is a protocol fault, not something to buffer.
constexpr size_t kMaxLine = 64 * 1024;

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void SetTimeouts(int fd, std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

std::optional<platform::UniqueFd> ConnectLoopback(int port, std::chrono::milliseconds timeout,
                                                  std::string& error) {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) {
    error = ErrnoText("socket");
    return std::nullopt;
  }
  SetTimeouts(fd.get(), timeout);
  const int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // With SO_SNDTIMEO set, a blocking connect gives up after the time-out too.
  while (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno == EINTR) continue;
    error = ErrnoText(("connect to port " + std::to_string(port)).c_str());
    return std::nullopt;
  }
  return fd;
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Pattern::Matches(const char* data, size_t size, uint64_t offset) const {
  const size_t period = bytes_.size();
  while (size > 0) {
    const size_t at = static_cast<size_t>(offset % period);
    const size_t n = std::min(size, period - at);
    if (std::memcmp(data, bytes_.data() + at, n) != 0) return false;
    data += n;
    size -= n;
    offset += n;
  }
  return true;
}

int ParsePassivePort(std::string_view reply) {
  const size_t open = reply.find('(');
  if (open == std::string_view::npos) return 0;
  int fields[6];
  int count = 0;
  size_t i = open + 1;
  while (count < 6 && i < reply.size()) {
    int value = 0;
    size_t digits = 0;
    while (i < reply.size() && reply[i] >= '0' && reply[i] <= '9' && digits < 4) {
      value = value * 10 + (reply[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || value > 255) return 0;
    fields[count++] = value;
    if (i < reply.size() && reply[i] == ',') ++i;
  }
  if (count != 6) return 0;
  return fields[4] * 256 + fields[5];
}

std::optional<std::string> ControlConnection::ReadLine(std::string& error) {
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end + 1);
      buffer_.erase(0, end + 1);
      return line;
    }
    if (buffer_.size() > kMaxLine) {
      error = "reply line too long";
      return std::nullopt;
    }
    char chunk[4096];
    const ssize_t n = tls_ ? tls_->Read(chunk, sizeof chunk) : ::recv(fd_.get(), chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      error = "control connection closed by the server";
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      error = "no reply within the time limit";
    } else {
      error = ErrnoText("recv on control connection");
    }
    if (!buffer_.empty()) error += " (partial: " + buffer_.substr(0, 200) + ")";
    return std::nullopt;
  }
}

std::optional<Reply> ControlConnection::ReadReply(std::string& error) {
  auto first = ReadLine(error);
  if (!first) return std::nullopt;
  if (first->size() < 4 || first->compare(0, 3, "000") < 0 || first->compare(0, 3, "999") > 0) {
    error = "malformed reply line: " + *first;
    return std::nullopt;
  }
  Reply reply;
  reply.code = std::atoi(first->substr(0, 3).c_str());
  reply.text = *first;
  if ((*first)[3] == '-') {
    const std::string end = first->substr(0, 3) + " ";
    for (;;) {
      auto line = ReadLine(error);
      if (!line) return std::nullopt;
      reply.text += *line;
      if (line->compare(0, 4, end) == 0) break;
    }
  }
  return reply;
}

std::optional<Reply> ControlConnection::Command(std::string_view line, std::string& error) {
  std::string wire(line);
  wire += "\r\n";
  if (!SendLine(wire)) {
    error = ErrnoText("send on control connection");
    return std::nullopt;
  }
  return ReadReply(error);
}

bool ControlConnection::SendLine(const std::string& wire) {
  return tls_ ? tls_->WriteAll(wire.data(), wire.size()) : SendAll(fd_.get(), wire.data(), wire.size());
}

Status ControlConnection::Expect(std::string_view line, int klass) {
  std::string error;
  auto reply = Command(line, error);
  if (!reply) return Status::Fail(std::string(line.substr(0, 4)) + ": " + error);
  if (reply->code / 100 != klass) {
    return Status::Fail(std::string(line.substr(0, 4)) + " answered " + reply->text);
  }
  return Status::Ok();
}

Status ControlConnection::Connect(int port) {
  std::string error;
  Close();
  auto fd = ConnectLoopback(port, timeout_, error);
  if (!fd) return Status::Fail(error);
  fd_ = std::move(*fd);
  auto greeting = ReadReply(error);
  if (!greeting) return Status::Fail("greeting: " + error);
  if (greeting->code != 220) return Status::Fail("greeting was " + greeting->text);
  if (!TlsEnabled()) return Status::Ok();
  if (Status s = Expect("AUTH TLS", 2); !s.ok()) return s;
  auto tls = std::make_unique<TlsStream>();
  if (!tls->Handshake(fd_.get(), nullptr, error)) return Status::Fail("control connection: " + error);
  tls_ = std::move(tls);
  return Status::Ok();
}

Status ControlConnection::LogOn(const std::string& user, const std::string& password) {
  if (Status s = Expect("USER " + user, 3); !s.ok()) return s;
  return Expect("PASS " + password, 2);
}

Status ControlConnection::Open(int port, const std::string& user, const std::string& password) {
  if (Status s = Connect(port); !s.ok()) return s;
  if (Status s = LogOn(user, password); !s.ok()) return s;
  if (tls_) {
    if (Status s = Expect("PBSZ 0", 2); !s.ok()) return s;
    if (Status s = Expect("PROT P", 2); !s.ok()) return s;
  }
  return Expect("TYPE I", 2);
}

Status ControlConnection::Quit() {
  std::string error;
  auto reply = Command("QUIT", error);
  if (!reply) return Status::Fail("QUIT: " + error);
  if (reply->code != 221) return Status::Fail("QUIT answered " + reply->text);
  return Status::Ok();
}

std::optional<platform::UniqueFd> ControlConnection::OpenPassive(std::string& error) {
  auto reply = Command("PASV", error);
  if (!reply) {
    error = "PASV: " + error;
    return std::nullopt;
  }
  const int port = reply->code == 227 ? ParsePassivePort(reply->text) : 0;
  if (port <= 0) {
    error = "PASV answered " + reply->text;
    return std::nullopt;
  }
  return ConnectLoopback(port, timeout_, error);
}

}  // namespace ftpload
