#include "platform/event_loop.h"
#include "platform/worker.h"
#include "tests/platform/loop_pump.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

namespace {

using platform::EventLoop;
using platform::Message;

// Pumps `loop` until `done` holds or the deadline passes.
template <typename Pred>
bool PumpUntil(EventLoop& loop, Pred done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  return velto::test::PumpLoopUntil(loop, done, limit);
}

struct Pair {
  int listener = -1;
  int client = -1;
  int server = -1;
  ~Pair() {
    for (int fd : {listener, client, server}) {
      if (fd >= 0) ::close(fd);
    }
  }
};

int Listener(std::uint16_t* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, 128);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

int ConnectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return fd;
}

void MakePair(Pair& p) {
  std::uint16_t port = 0;
  p.listener = Listener(&port);
  p.client = ConnectTo(port);
  p.server = ::accept(p.listener, nullptr, nullptr);
}

TEST(EventLoopMessages, PostPeekAndDispatchOrder) {
  EventLoop loop;
  std::vector<std::pair<int, std::uint32_t>> seen;
  platform::TargetHandle a = 0;
  platform::TargetHandle b = 0;
  a = loop.CreateTarget([&](const Message& m) {
    seen.emplace_back(1, m.number);
    // Posted from a handler: runs after the message being handled.
    if (m.number == 1) loop.Post(a, 3, 0, 0);
  });
  b = loop.CreateTarget([&](const Message& m) { seen.emplace_back(2, m.number); });
  ASSERT_NE(a, 0);
  ASSERT_NE(a, b);

  loop.Post(a, 1, 0, 0);
  loop.Post(b, 10, 0, 0);
  loop.Post(a, 2, 0, 0);
  loop.Post(b, 11, 0, 0);

  // Peek for one target leaves the other target's messages queued, in order.
  auto m = loop.Peek(b, false);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->number, 10u);
  m = loop.Peek(b, true);
  ASSERT_TRUE(m);
  loop.Dispatch(*m);
  EXPECT_EQ(loop.PendingCount(), 3u);

  while (loop.PendingCount() > 0) {
    auto next = loop.Peek(0, true);
    loop.Dispatch(*next);
  }
  const std::vector<std::pair<int, std::uint32_t>> expected{{2, 10}, {1, 1}, {1, 2}, {2, 11}, {1, 3}};
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(loop.Post(12345, 1, 0, 0));
}

TEST(EventLoopMessages, DestroyedTargetDropsItsQueuedMessages) {
  EventLoop loop;
  int calls = 0;
  auto t = loop.CreateTarget([&](const Message&) { ++calls; });
  loop.Post(t, 1, 0, 0);
  loop.DestroyTarget(t);
  loop.ProcessReady();
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(loop.IsTarget(t));
}

TEST(EventLoopMessages, RunEndsOnQuitAndFdIsReadableWhenSomethingIsDue) {
  EventLoop loop;
  auto t = loop.CreateTarget([&](const Message& m) { loop.Quit(static_cast<int>(m.wParam)); });
  pollfd p{loop.Fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  loop.Post(t, 1, 7, 0);
  EXPECT_EQ(::poll(&p, 1, 0), 1);
  EXPECT_EQ(loop.Run(), 7);
}

// An outside loop's handler may run that loop again (a modal dialog): what
// is still queued, and what it posts, must keep the descriptor readable.
TEST(EventLoopMessages, HandlerRunByProcessReadyLeavesTheRestPollable) {
  EventLoop loop;
  std::vector<int> readable;
  platform::TargetHandle t = 0;
  t = loop.CreateTarget([&](const Message& m) {
    if (m.number == 2) loop.Post(t, 3, 0, 0);
    pollfd p{loop.Fd(), POLLIN, 0};
    if (m.number != 3) readable.push_back(::poll(&p, 1, 0));
  });
  loop.Post(t, 1, 0, 0);
  loop.Post(t, 2, 0, 0);
  EXPECT_EQ(loop.ProcessReady(), 3);
  EXPECT_EQ(readable, (std::vector<int>{1, 1}));
}

TEST(EventLoopTimers, IndependentPeriodsAndKill) {
  EventLoop loop;
  int fast = 0;
  int slow = 0;
  auto idFast = loop.SetTimer(10, [&](platform::TimerId) { ++fast; });
  auto idSlow = loop.SetTimer(60, [&](platform::TimerId) { ++slow; });
  ASSERT_NE(idFast, idSlow);
  ASSERT_TRUE(PumpUntil(loop, [&] { return slow >= 2; }));
  EXPECT_GT(fast, slow);
  EXPECT_TRUE(loop.KillTimer(idFast));
  EXPECT_FALSE(loop.KillTimer(idFast));
  const int fastAtKill = fast;
  const int slowAtKill = slow;
  ASSERT_TRUE(PumpUntil(loop, [&] { return slow >= slowAtKill + 2; }));
  EXPECT_EQ(fast, fastAtKill);
  loop.KillTimer(idSlow);
}

TEST(EventLoopTimers, TimerKilledFromItsOwnTickNeverTicksAgain) {
  EventLoop loop;
  int ticks = 0;
  int other = 0;
  platform::TimerId self = 0;
  self = loop.SetTimer(5, [&](platform::TimerId id) {
    ++ticks;
    EXPECT_EQ(id, self);
    loop.KillTimer(id);
  });
  auto witness = loop.SetTimer(5, [&](platform::TimerId) { ++other; });
  ASSERT_TRUE(PumpUntil(loop, [&] { return other >= 5; }));
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(loop.TimerExists(self));
  loop.KillTimer(witness);
}

// Run waits for timers itself (the wait's limit is the next expiry), also
// for a timer set by a handler while it runs, and hands the descriptor its
// timers again once an outside loop drives it.
TEST(EventLoopTimers, RunWakesForTimersSetWhileItWaits) {
  EventLoop loop;
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration second{};
  const auto guard = loop.SetTimer(5000, [&](platform::TimerId) { loop.Quit(1); });
  loop.SetTimer(30, [&](platform::TimerId first) {
    loop.KillTimer(first);
    loop.SetTimer(20, [&](platform::TimerId id) {
      loop.KillTimer(id);
      second = std::chrono::steady_clock::now() - start;
      loop.Quit(0);
    });
  });
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_GE(second, std::chrono::milliseconds(50));
  loop.ResetQuit();
  int ticks = 0;
  const auto outside = loop.SetTimer(10, [&](platform::TimerId) { ++ticks; });
  loop.ProcessReady();
  pollfd p{loop.Fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 1000), 1);
  loop.ProcessReady();
  EXPECT_GE(ticks, 1);
  loop.KillTimer(outside);
  loop.KillTimer(guard);
}

struct SocketEvents {
  std::vector<std::uint32_t> events;
  std::vector<std::uint32_t> errors;
  int count(std::uint32_t e) const {
    int n = 0;
    for (auto x : events) n += x == e ? 1 : 0;
    return n;
  }
};

TEST(EventLoopSockets, ReadPostedOnceUntilReceived) {
  EventLoop loop;
  Pair p;
  MakePair(p);
  SocketEvents seen;
  auto t = loop.CreateTarget([&](const Message& m) {
    seen.events.push_back(platform::SelectEvent(m.lParam));
    seen.errors.push_back(platform::SelectError(m.lParam));
  });
  ASSERT_TRUE(loop.AsyncSelect(p.server, t, platform::kSocketMessage, platform::kFdRead | platform::kFdClose));
  ASSERT_EQ(::send(p.client, "abc", 3, 0), 3);
  ASSERT_TRUE(PumpUntil(loop, [&] { return seen.count(platform::kFdRead) == 1; }));
  // More data without a receive: no second notification.
  ASSERT_EQ(::send(p.client, "def", 3, 0), 3);
  PumpUntil(loop, [] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(seen.count(platform::kFdRead), 1);
  // A receive that leaves data re-posts; one that drains waits for new data.
  char buf[2];
  EXPECT_EQ(loop.Recv(p.server, buf, 2), 2);
  ASSERT_TRUE(PumpUntil(loop, [&] { return seen.count(platform::kFdRead) == 2; }));
  char big[64];
  EXPECT_EQ(loop.Recv(p.server, big, sizeof big), 4);
  PumpUntil(loop, [] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(seen.count(platform::kFdRead), 2);
  ASSERT_EQ(::send(p.client, "g", 1, 0), 1);
  ASSERT_TRUE(PumpUntil(loop, [&] { return seen.count(platform::kFdRead) == 3; }));
  loop.Unwatch(p.server);
}

TEST(EventLoopSockets, CloseIsPostedOnceAfterPendingInput) {
  EventLoop loop;
  Pair p;
  MakePair(p);
  SocketEvents seen;
  auto t = loop.CreateTarget([&](const Message& m) { seen.events.push_back(platform::SelectEvent(m.lParam)); });
  ASSERT_TRUE(loop.AsyncSelect(p.server, t, platform::kSocketMessage, platform::kFdRead | platform::kFdClose));
  ::send(p.client, "bye", 3, 0);
  ::close(p.client);
  p.client = -1;
  ASSERT_TRUE(PumpUntil(loop, [&] { return seen.count(platform::kFdRead) == 1; }));
  EXPECT_EQ(seen.count(platform::kFdClose), 0);
  char buf[16];
  EXPECT_EQ(loop.Recv(p.server, buf, sizeof buf), 3);
  ASSERT_TRUE(PumpUntil(loop, [&] { return seen.count(platform::kFdClose) == 1; }));
  PumpUntil(loop, [] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(seen.count(platform::kFdClose), 1);
  loop.Unwatch(p.server);
}

TEST(EventLoopSockets, WriteReadinessAfterBlockedSend) {
  EventLoop loop;
  Pair p;
  MakePair(p);
  SocketEvents seen;
  auto t = loop.CreateTarget([&](const Message& m) { seen.events.push_back(platform::SelectEvent(m.lParam)); });
  ASSERT_TRUE(loop.AsyncSelect(p.server, t, platform::kSocketMessage, platform::kFdWrite | platform::kFdClose));
  // The first write notification comes on registration.
  ASSERT_TRUE(PumpUntil(loop, [&] { return seen.count(platform::kFdWrite) == 1; }));
  std::vector<char> chunk(1 << 16, 'x');
  long n = 0;
  while ((n = loop.Send(p.server, chunk.data(), chunk.size())) > 0) {
  }
  EXPECT_EQ(errno, EAGAIN);
  PumpUntil(loop, [] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(seen.count(platform::kFdWrite), 1);
  // Drain the peer: write readiness comes back exactly once.
  std::vector<char> sink(1 << 20);
  while (::recv(p.client, sink.data(), sink.size(), MSG_DONTWAIT) > 0) {
  }
  ASSERT_TRUE(PumpUntil(loop, [&] {
    ::recv(p.client, sink.data(), sink.size(), MSG_DONTWAIT);
    return seen.count(platform::kFdWrite) == 2;
  }));
  loop.Unwatch(p.server);
}

TEST(EventLoopSockets, AcceptBurstLosesNoConnection) {
  EventLoop loop;
  std::uint16_t port = 0;
  int listener = Listener(&port);
  int accepted = 0;
  std::vector<int> servers;
  auto t = loop.CreateTarget([&](const Message& m) {
    if (platform::SelectEvent(m.lParam) != platform::kFdAccept) return;
    int s = loop.Accept(listener, nullptr, nullptr);
    if (s >= 0) {
      ++accepted;
      servers.push_back(s);
    }
  });
  ASSERT_TRUE(loop.AsyncSelect(listener, t, platform::kSocketMessage, platform::kFdAccept));
  std::vector<int> clients;
  for (int i = 0; i < 50; ++i) clients.push_back(ConnectTo(port));
  EXPECT_TRUE(PumpUntil(loop, [&] { return accepted == 50; }));
  loop.Unwatch(listener);
  for (int fd : clients) ::close(fd);
  for (int fd : servers) ::close(fd);
  ::close(listener);
}

TEST(EventLoopSockets, UnwatchPurgesQueuedNotifications) {
  EventLoop loop;
  Pair p;
  MakePair(p);
  int calls = 0;
  auto t = loop.CreateTarget([&](const Message&) { ++calls; });
  ::send(p.client, "x", 1, 0);
  ASSERT_TRUE(loop.AsyncSelect(p.server, t, platform::kSocketMessage, platform::kFdRead));
  // Collect without dispatching.
  ASSERT_TRUE(loop.Peek(t, false));
  loop.Unwatch(p.server);
  loop.ProcessReady();
  EXPECT_EQ(calls, 0);
}

// Stop and reload requests share one signalfd but reach their own targets.
TEST(EventLoopSignals, WatchedSignalsBecomeMessagesToTheirTargets) {
  EventLoop loop;
  int stop = 0;
  int hangup = 0;
  auto stopTarget = loop.CreateTarget([&](const Message& m) { stop = static_cast<int>(m.wParam); });
  auto hangupTarget = loop.CreateTarget([&](const Message& m) { hangup = static_cast<int>(m.wParam); });
  ASSERT_TRUE(loop.WatchTerminationSignals(stopTarget, 32100));
  ASSERT_TRUE(loop.WatchHangupSignal(hangupTarget, 7));
  ::raise(SIGHUP);
  EXPECT_TRUE(PumpUntil(loop, [&] { return hangup != 0; }));
  EXPECT_EQ(hangup, SIGHUP);
  EXPECT_EQ(stop, 0);
  ASSERT_TRUE(loop.WatchHangupSignal(0, 0));
  ::raise(SIGTERM);
  EXPECT_TRUE(PumpUntil(loop, [&] { return stop != 0; }));
  EXPECT_EQ(stop, SIGTERM);
  loop.WatchTerminationSignals(0, 0);
}

}  // namespace

// Blocking work runs off the loop's thread and its result comes back as an
// ordinary event, while the loop goes on.
TEST(BackgroundWorker, RunsOffTheLoopAndAnswersOnIt) {
  platform::EventLoop loop;
  platform::BackgroundWorker worker(loop);
  ASSERT_TRUE(worker.Started());
  const auto loopThread = std::this_thread::get_id();
  std::thread::id jobThread;
  std::thread::id doneThread;
  bool answer = false;
  worker.Run(
      [&jobThread] {
        jobThread = std::this_thread::get_id();
        return true;
      },
      [&](bool result) {
        doneThread = std::this_thread::get_id();
        answer = result;
        loop.Quit(0);
      });
  const auto timer = loop.SetTimer(10000, [&](platform::TimerId) { loop.Quit(1); });
  EXPECT_EQ(loop.Run(), 0);
  loop.KillTimer(timer);
  EXPECT_TRUE(answer);
  EXPECT_NE(jobThread, loopThread);
  EXPECT_EQ(doneThread, loopThread);
}
