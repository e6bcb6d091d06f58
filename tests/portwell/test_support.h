// Helpers for the component's tests: a bounded loop pump, an event recorder
// and plain blocking peers on 127.0.0.1.
#pragma once

#include "platform/event_loop.h"
#include "portwell/portwell.h"
#include "tests/platform/loop_pump.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pwtest {

using namespace std::chrono_literals;

// Pumps the process loop until `done` holds or `limit` passes.
template <typename Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit = 5000ms) {
  return velto::test::PumpLoopUntil(platform::EventLoop::Instance(), done, limit);
}

// Pumps for a while regardless (to show that something does NOT happen).
inline void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

// Messages the loop dispatches over a span: 0 when nothing (no timer, no
// notification) runs.
inline int DispatchedDuring(std::chrono::milliseconds span) {
  auto& loop = platform::EventLoop::Instance();
  const auto deadline = std::chrono::steady_clock::now() + span;
  int dispatched = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{loop.Fd(), POLLIN, 0};
    ::poll(&p, 1, 5);
    dispatched += loop.ProcessReady();
  }
  return dispatched;
}

inline std::string Narrow(const PortwellData& data) { return data.ToBytes(); }

// Records every event as a line, and keeps what arrived per socket.
class Recorder : public IPortwellEvents {
 public:
  std::vector<std::string> log;
  std::map<std::int32_t, std::string> received;
  std::map<std::int32_t, int> terminated;
  std::vector<std::pair<std::int32_t, std::int32_t>> errors;
  std::vector<std::pair<std::int32_t, std::string>> empties;
  bool accept = true;
  bool recordData = true;
  std::function<void(std::int32_t, PortwellData&, bool&)> onData;
  std::function<void(std::int32_t, const std::string&)> onEmpty;
  std::function<void(std::int32_t, PWL_SOCK_STATE)> onStatus;
  std::function<void(std::int32_t)> onEstablished;

  void DataArrival(std::int32_t s, PortwellData& data, bool& retrieved) override {
    if (recordData) log.push_back("data " + std::to_string(s) + " " + std::to_string(data.Size()));
    if (onData) onData(s, data, retrieved);
    if (retrieved) received[s] += data.ToBytes();
  }
  void ConnectionStatus(std::int32_t s, PWL_SOCK_STATE state) override {
    log.push_back("status " + std::to_string(s) + " " + std::to_string(state));
    if (onStatus) onStatus(s, state);
  }
  void ConnectionRequest(std::int32_t s, bool& ok) override {
    log.push_back("request " + std::to_string(s));
    ok = accept;
  }
  void ConnectionEstablished(std::int32_t s) override {
    log.push_back("established " + std::to_string(s));
    if (onEstablished) onEstablished(s);
  }
  void ConnectionTerminated(std::int32_t s) override {
    log.push_back("terminated " + std::to_string(s));
    ++terminated[s];
  }
  void EmptySendQue(std::int32_t s, const std::string& id) override {
    log.push_back("empty " + std::to_string(s) + " " + id);
    empties.emplace_back(s, id);
    if (onEmpty) onEmpty(s, id);
  }
  void Error(std::int32_t s, std::int32_t number) override {
    log.push_back("error " + std::to_string(s) + " " + std::to_string(number));
    errors.emplace_back(s, number);
  }

  // Lines about socket `s`, in order.
  std::vector<std::string> For(std::int32_t s, bool withData = false) const {
    std::vector<std::string> out;
    const std::string id = " " + std::to_string(s);
    for (const auto& line : log) {
      const auto space = line.find(' ');
      const auto rest = line.substr(space);
      if ((rest == id || rest.rfind(id + " ", 0) == 0) && (withData || line.rfind("data", 0) != 0)) out.push_back(line);
    }
    return out;
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (const auto& l : log) n += l == line;
    return n;
  }
};

// A loopback socket address: "127.0.0.1" or "::1" (IPv6 when it has a colon).
inline sockaddr_storage LoopbackAddress(const char* host, int port, socklen_t* length) {
  sockaddr_storage storage{};
  if (std::string(host).find(':') != std::string::npos) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET6, host, &a->sin6_addr);
    *length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host, &a->sin_addr);
    *length = sizeof *a;
  }
  return storage;
}

// The local port of a socket of either family.
inline int SocketPort(int fd) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&a)->sin6_port)
                                 : ntohs(reinterpret_cast<const sockaddr_in*>(&a)->sin_port);
}

// Whether the host can bind ::1 (IPv6 cases are skipped without it).
inline bool HasIPv6Loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  socklen_t length = 0;
  const sockaddr_storage a = LoopbackAddress("::1", 0, &length);
  const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), length) == 0;
  ::close(fd);
  return ok;
}

// A blocking client socket on loopback (the test's peer).
class Peer {
 public:
  Peer() = default;
  explicit Peer(int fd) : fd_(fd) {}
  Peer(Peer&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Peer& operator=(Peer&& o) noexcept {
    if (this != &o) {
      Close();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  ~Peer() { Close(); }

  static Peer ConnectTo(int port, const char* host = "127.0.0.1") {
    socklen_t length = 0;
    const sockaddr_storage a = LoopbackAddress(host, port, &length);
    int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), length) != 0) {
      ::close(fd);
      return Peer();
    }
    return Peer(fd);
  }

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int LocalPort() const { return SocketPort(fd_); }
  void Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const long n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  // Reads what arrives within `limit` (until `want` bytes or end of stream).
  std::string Read(std::size_t want, std::chrono::milliseconds limit = 5000ms, bool* eof = nullptr) const {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[65536];
    while (out.size() < want) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      const long n = ::recv(fd_, buffer, std::min(sizeof buffer, want - out.size()), 0);
      if (n <= 0) {
        if (eof) *eof = true;
        break;
      }
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }
  // True when the peer's side ended (EOF or reset) within `limit`.
  bool WaitEnd(std::chrono::milliseconds limit = 5000ms) const {
    bool eof = false;
    Read(SIZE_MAX, limit, &eof);
    return eof;
  }
  // A small receive buffer, so that a sender fills it quickly.
  void ShrinkReceiveBuffer() const {
    int size = 256 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  void Reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// A plain listening socket on loopback (127.0.0.1 or ::1) with a free port.
inline int PlainListener(int* port, int backlog = 16, const char* host = "127.0.0.1") {
  socklen_t length = 0;
  const sockaddr_storage a = LoopbackAddress(host, 0, &length);
  int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::bind(fd, reinterpret_cast<const sockaddr*>(&a), length);
  ::listen(fd, backlog);
  *port = SocketPort(fd);
  return fd;
}

// A port that nothing listens on (bound and closed again).
inline int ClosedPort() {
  int port = 0;
  const int fd = PlainListener(&port);
  ::close(fd);
  return port;
}

}  // namespace pwtest
