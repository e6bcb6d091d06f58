// Loopback throughput of the component against a raw sender, side by side:
// raw sendfile from the page cache against SendFile, raw send from memory
// against SendData with ChunkSize 512 and 4096. Every case moves the same
// bytes to a reader thread on 127.0.0.1; each figure is shown as a ratio to
// its raw counterpart.
//
//   portwell_bench [MiB per run, default 1024] [rounds, default 5]
#include "platform/event_loop.h"
#include "portwell/portwell.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t gBytes = 1ll << 30;
constexpr std::size_t kBlock = 1 << 20;

// A reader on a loopback port that takes everything as fast as it can.
class Reader {
 public:
  Reader() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 4);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      const int fd = ::accept(listener_, nullptr, nullptr);
      std::vector<char> buffer(256 * 1024);
      std::int64_t total = 0;
      while (total < gBytes) {
        const long n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        total += n;
      }
      received = total;
      ::close(fd);
      done = true;
    });
  }
  ~Reader() {
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  int port = 0;
  std::atomic<bool> done{false};
  std::atomic<std::int64_t> received{0};

 private:
  int listener_ = -1;
  std::thread thread_;
};

int RawConnect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(2);
  return fd;
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double RawSendFile(int file) {
  Reader reader;
  const int fd = RawConnect(reader.port);
  const auto start = Clock::now();
  off_t offset = 0;
  while (offset < gBytes) {
    if (::sendfile(fd, file, &offset, static_cast<std::size_t>(gBytes - offset)) <= 0) break;
  }
  while (!reader.done) std::this_thread::yield();
  const double s = Seconds(start);
  ::close(fd);
  return static_cast<double>(reader.received) / s;
}

double RawSend() {
  Reader reader;
  const int fd = RawConnect(reader.port);
  std::string block(kBlock, 'r');
  const auto start = Clock::now();
  std::int64_t sent = 0;
  while (sent < gBytes) {
    const long n = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += n;
  }
  while (!reader.done) std::this_thread::yield();
  const double s = Seconds(start);
  ::close(fd);
  return static_cast<double>(reader.received) / s;
}

class Events : public IPortwellEvents {
 public:
  std::function<void(std::int32_t)> onEmpty;
  void EmptySendQue(std::int32_t s, const std::string&) override {
    if (onEmpty) onEmpty(s);
  }
};

// Runs the loop the way the program does until `handedOver` (set by an
// event on the loop), then waits for the reader to have everything.
void RunUntil(const bool& handedOver, const std::atomic<bool>& done) {
  auto& loop = platform::EventLoop::Instance();
  platform::Message m;
  while (!handedOver && loop.Get(m)) loop.Dispatch(m);
  while (!done) std::this_thread::yield();
}

PortwellInstance LoadComponent(Events& events) {
  PortwellLoadStatus status{};
  std::string detail;
  PortwellInstance pw = PortwellInstance::Load(PORTWELL_LIBRARY_PATH, status, &detail);
  if (!pw) {
    std::fprintf(stderr, "cannot load %s: %s\n", PORTWELL_LIBRARY_PATH, detail.c_str());
    std::exit(2);
  }
  pw->SetEventSink(&events);
  pw->Activate(true);
  return pw;
}

double ComponentSendFile(const std::string& path) {
  Events events;
  PortwellInstance pw = LoadComponent(events);
  Reader reader;
  const std::int32_t h = pw->Connect("127.0.0.1", reader.port);
  bool handedOver = false;
  pw->NotifyOnEmptySendQue(std::to_string(h), "FILE", static_cast<std::int32_t>(gBytes));
  events.onEmpty = [&](std::int32_t) { handedOver = true; };
  const auto start = Clock::now();
  pw->SendFile(h, path, 0, gBytes);
  RunUntil(handedOver, reader.done);
  const double s = Seconds(start);
  return static_cast<double>(reader.received) / s;
}

double ComponentSendData(std::int32_t chunkSize) {
  Events events;
  PortwellInstance pw = LoadComponent(events);
  pw->SetChunkSize(chunkSize);
  Reader reader;
  const std::int32_t h = pw->Connect("127.0.0.1", reader.port);
  std::string block(kBlock, 'd');
  std::int64_t queued = 0;
  std::int64_t completed = 0;
  bool handedOver = false;
  auto sendNext = [&] {
    if (queued >= gBytes) return;
    queued += static_cast<std::int64_t>(kBlock);
    pw->SendData(h, block);
  };
  // Like a server sending a file: a few blocks ahead, one more as each goes.
  pw->NotifyOnEmptySendQue(std::to_string(h), "BLOCK", static_cast<std::int32_t>(kBlock));
  events.onEmpty = [&](std::int32_t) {
    completed += static_cast<std::int64_t>(kBlock);
    handedOver = completed >= gBytes;
    sendNext();
  };
  const auto start = Clock::now();
  for (int i = 0; i < 8; ++i) sendNext();
  RunUntil(handedOver, reader.done);
  const double s = Seconds(start);
  return static_cast<double>(reader.received) / s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) gBytes = std::atoll(argv[1]) << 20;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string path = "/tmp/portwell-bench-" + std::to_string(::getpid());
  {
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::string block(kBlock, 'f');
    for (std::int64_t at = 0; at < gBytes; at += static_cast<std::int64_t>(kBlock)) {
      if (::write(out, block.data(), block.size()) != static_cast<long>(block.size())) return 2;
    }
    ::close(out);
  }
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  RawSendFile(file);  // warm the page cache

  // The cases run interleaved, round after round, so that a busy moment of
  // the machine hits all of them; each ratio is taken within its round.
  std::vector<double> rawFile, pwFile, rawSend, pw512, pw4096;
  std::vector<double> rFile, r512, r4096;
  for (int i = 0; i < rounds; ++i) {
    rawFile.push_back(RawSendFile(file));
    pwFile.push_back(ComponentSendFile(path));
    rawSend.push_back(RawSend());
    pw512.push_back(ComponentSendData(512));
    pw4096.push_back(ComponentSendData(4096));
    rFile.push_back(pwFile.back() / rawFile.back());
    r512.push_back(pw512.back() / rawSend.back());
    r4096.push_back(pw4096.back() / rawSend.back());
  }
  ::close(file);
  ::unlink(path.c_str());

  const double gib = 1024.0 * 1024.0 * 1024.0;
  std::printf("loopback, %lld MiB per run, %d interleaved rounds; median figures, median of per-round ratios\n",
              static_cast<long long>(gBytes >> 20), rounds);
  std::printf("%-28s %6.2f GiB/s\n", "raw sendfile", Median(rawFile) / gib);
  std::printf("%-28s %6.2f GiB/s  ratio %.2f (target >= 0.90)\n", "SendFile", Median(pwFile) / gib, Median(rFile));
  std::printf("%-28s %6.2f GiB/s\n", "raw send (1 MiB calls)", Median(rawSend) / gib);
  std::printf("%-28s %6.2f GiB/s  ratio %.2f (target >= 0.70)\n", "SendData, ChunkSize 512", Median(pw512) / gib,
              Median(r512));
  std::printf("%-28s %6.2f GiB/s  ratio %.2f (target >= 0.70)\n", "SendData, ChunkSize 4096", Median(pw4096) / gib,
              Median(r4096));
  return 0;
}
